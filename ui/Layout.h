#pragma once

// The main window's layout, as both front ends build it: every control with its parent, its
// place in pixels at 96 DPI relative to the parent's client area, its caption and its place
// in the parent's tab order.
#include <string_view>

enum class TControlKind {
  LogView,
  Panel,
  GroupBox,
  Label,
  Edit,
  RadioButton,
  SpinButtons,
  CheckBox,
  PushButton
};

struct TLayoutEntry {
  const char* Name;
  TControlKind Kind;
  const char* Parent;
  int Left, Top, Width, Height;
  const char* Caption;  // the initial text; nullptr for none
  int TabOrder;         // within the parent; -1 for a control that takes no focus
  bool Checked;
};

inline constexpr const char* kMainFormCaption = "Quorvel v2.0";
inline constexpr const char* kApplicationTitle = "Rivezava REV";
inline constexpr int kClientWidth = 940;
inline constexpr int kClientHeight = 685;
inline constexpr int kPanelHeight = 100;
// The smallest client area that shows the whole bottom panel: the button and a margin as wide
// as the groups' own, above it a log of a hundred pixels.
inline constexpr int kMinClientWidth = 580 + 133 + 8;
inline constexpr int kMinClientHeight = kPanelHeight + 100;

// clang-format off
inline constexpr TLayoutEntry kMainFormLayout[] = {
    {"Ecr", TControlKind::LogView, "MainForm", 0, 0, 940, 585, nullptr, 1, false},
    {"PanelBottom", TControlKind::Panel, "MainForm", 0, 585, 940, 100, nullptr, 0, false},
    {"GroupBox1", TControlKind::GroupBox, "PanelBottom", 8, 10, 874, 45, " Trace TCP ", 1, false},
    {"Label1", TControlKind::Label, "GroupBox1", 5, 16, 128, 13, "Adressse IP carte reseau :", -1,
     false},
    {"EditIp", TControlKind::Edit, "GroupBox1", 138, 14, 121, 25, "EditIp", 6, false},
    {"Touslesports", TControlKind::RadioButton, "GroupBox1", 271, 16, 90, 17, "Tous les ports", 0,
     true},
    {"PortStartPortEnd", TControlKind::RadioButton, "GroupBox1", 363, 16, 41, 17, "De", 1, false},
    {"StartPort", TControlKind::Edit, "GroupBox1", 400, 13, 65, 25, "0", 4, false},
    {"UpDown1", TControlKind::SpinButtons, "GroupBox1", 465, 13, 16, 19, nullptr, 2, false},
    {"Label2", TControlKind::Label, "GroupBox1", 491, 17, 17, 13, "a", -1, false},
    {"EndPort", TControlKind::Edit, "GroupBox1", 512, 14, 61, 25, "0", 5, false},
    {"UpDown2", TControlKind::SpinButtons, "GroupBox1", 573, 14, 16, 19, nullptr, 3, false},
    {"GroupBox2", TControlKind::GroupBox, "PanelBottom", 8, 56, 249, 39, " Voir ", 2, false},
    {"VoirDate", TControlKind::CheckBox, "GroupBox2", 8, 16, 97, 17, "Date", 0, true},
    {"VoirIpPort", TControlKind::CheckBox, "GroupBox2", 62, 16, 73, 17, "IP et Ports", 1, true},
    {"VoirDrapeaux", TControlKind::CheckBox, "GroupBox2", 148, 16, 97, 17, "Drapeaux TCP", 2, true},
    {"GroupBox3", TControlKind::GroupBox, "PanelBottom", 262, 56, 309, 39, " Filtre Drapeaux TCP ",
     3, false},
    {"FiltreURG", TControlKind::CheckBox, "GroupBox3", 8, 16, 49, 17, "URG", 0, true},
    {"FiltreACK", TControlKind::CheckBox, "GroupBox3", 56, 16, 49, 17, "ACK", 1, true},
    {"FiltrePSH", TControlKind::CheckBox, "GroupBox3", 105, 16, 49, 17, "PSH", 2, true},
    {"FiltreRST", TControlKind::CheckBox, "GroupBox3", 154, 16, 49, 17, "RST", 3, true},
    {"FiltreSYN", TControlKind::CheckBox, "GroupBox3", 203, 16, 49, 17, "SYN", 4, true},
    {"FiltreFIN", TControlKind::CheckBox, "GroupBox3", 252, 16, 49, 17, "FIN", 5, true},
    {"Btn_StartStop", TControlKind::PushButton, "PanelBottom", 580, 60, 133, 34, "Btn_StartStop",
     0, false},
};
// clang-format on

// The control of that name; the table holds every name the front ends ask for.
constexpr const TLayoutEntry& LayoutOf(std::string_view name) {
  for (const TLayoutEntry& entry : kMainFormLayout)
    if (name == entry.Name) return entry;
  return kMainFormLayout[0];
}

// The order in which Tab visits the controls: the window's, each parent's controls in their
// tab order, depth first.
inline constexpr const char* kTabChain[] = {
    "Btn_StartStop", "Touslesports", "PortStartPortEnd", "UpDown1",    "UpDown2",      "StartPort",
    "EndPort",       "EditIp",       "VoirDate",         "VoirIpPort", "VoirDrapeaux", "FiltreURG",
    "FiltreACK",     "FiltrePSH",    "FiltreRST",        "FiltreSYN",  "FiltreFIN",    "Ecr"};
