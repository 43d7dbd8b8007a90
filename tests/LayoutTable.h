#pragma once

// The main window's layout as it was designed, written out apart from the program's own table,
// for both front ends' layout tests: each control's kind, parent, place at 96 DPI relative to
// the parent's client area, and initial caption.
#include <string_view>

struct TExpectedControl {
  const char* Name;
  const char* Kind;  // LogView, Panel, GroupBox, Label, Edit, Combo, Radio, Spin, Check, Button
  const char* Parent;
  int Left, Top, Width, Height;
  const char* Caption;  // nullptr where there is none to compare
  bool Checked;
};

// clang-format off
inline constexpr TExpectedControl kExpectedLayout[] = {
    {"Ecr", "LogView", "MainForm", 0, 0, 940, 585, nullptr, false},
    {"PanelBottom", "Panel", "MainForm", 0, 585, 940, 100, nullptr, false},
    {"GroupBox1", "GroupBox", "PanelBottom", 8, 10, 874, 45, " Trace TCP ", false},
    {"Label1", "Label", "GroupBox1", 5, 16, 128, 13, "Adressse IP carte reseau :", false},
    {"EditIp", "Combo", "GroupBox1", 138, 14, 121, 25, "10.0.0.1", false},
    {"Touslesports", "Radio", "GroupBox1", 271, 16, 90, 17, "Tous les ports", true},
    {"PortStartPortEnd", "Radio", "GroupBox1", 363, 16, 41, 17, "De", false},
    {"StartPort", "Edit", "GroupBox1", 400, 13, 65, 25, "0", false},
    {"UpDown1", "Spin", "GroupBox1", 465, 13, 16, 19, nullptr, false},
    {"Label2", "Label", "GroupBox1", 491, 17, 17, 13, "a", false},
    {"EndPort", "Edit", "GroupBox1", 512, 14, 61, 25, "0", false},
    {"UpDown2", "Spin", "GroupBox1", 573, 14, 16, 19, nullptr, false},
    {"GroupBox2", "GroupBox", "PanelBottom", 8, 56, 249, 39, " Voir ", false},
    {"VoirDate", "Check", "GroupBox2", 8, 16, 97, 17, "Date", true},
    {"VoirIpPort", "Check", "GroupBox2", 62, 16, 73, 17, "IP et Ports", true},
    {"VoirDrapeaux", "Check", "GroupBox2", 148, 16, 97, 17, "Drapeaux TCP", true},
    {"GroupBox3", "GroupBox", "PanelBottom", 262, 56, 309, 39, " Filtre Drapeaux TCP ", false},
    {"FiltreURG", "Check", "GroupBox3", 8, 16, 49, 17, "URG", true},
    {"FiltreACK", "Check", "GroupBox3", 56, 16, 49, 17, "ACK", true},
    {"FiltrePSH", "Check", "GroupBox3", 105, 16, 49, 17, "PSH", true},
    {"FiltreRST", "Check", "GroupBox3", 154, 16, 49, 17, "RST", true},
    {"FiltreSYN", "Check", "GroupBox3", 203, 16, 49, 17, "SYN", true},
    {"FiltreFIN", "Check", "GroupBox3", 252, 16, 49, 17, "FIN", true},
    {"Btn_StartStop", "Button", "PanelBottom", 580, 60, 133, 34, "Start", false},
};
// clang-format on

// The controls Tab visits, in order, from the button that has the focus when the window opens.
inline constexpr const char* kExpectedTabChain[] = {
    "Btn_StartStop", "Touslesports", "PortStartPortEnd", "StartPort", "EndPort",   "EditIp",
    "VoirDate",      "VoirIpPort",   "VoirDrapeaux",     "FiltreURG", "FiltreACK", "FiltrePSH",
    "FiltreRST",     "FiltreSYN",    "FiltreFIN",        "Ecr"};
