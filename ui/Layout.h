#pragma once

// The main window's layout, as both front ends build it: every control with its parent, its
// place in pixels at 96 DPI relative to the parent's client area, its caption, its place in
// the parent's tab order, and for a check box the display option it sets. Everything else of
// the layout (sizes, the order Tab follows) is derived from this table.
#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <string_view>

#include "ui/LineComposition.h"

enum class TControlKind {
  LogView,
  Panel,
  GroupBox,
  Label,
  Edit,
  ComboBox,  // an edit with a drop-down list
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
  bool TDisplayOptions::*Option = nullptr;  // of a check box: what it shows or lets through
};

inline constexpr const char* kMainFormCaption = "Quorvel v2.0";
inline constexpr const char* kApplicationTitle = "Rivezava REV";
inline constexpr const char* kMainFormName = "MainForm";

// clang-format off
inline constexpr TLayoutEntry kMainFormLayout[] = {
    {"Ecr", TControlKind::LogView, "MainForm", 0, 0, 940, 585, nullptr, 1, false},
    {"PanelBottom", TControlKind::Panel, "MainForm", 0, 585, 940, 100, nullptr, 0, false},
    {"GroupBox1", TControlKind::GroupBox, "PanelBottom", 8, 10, 874, 45, " Trace TCP ", 1, false},
    {"Label1", TControlKind::Label, "GroupBox1", 5, 16, 128, 13, "Adressse IP carte reseau :", -1,
     false},
    {"EditIp", TControlKind::ComboBox, "GroupBox1", 138, 14, 121, 25, "EditIp", 6, false},
    {"Touslesports", TControlKind::RadioButton, "GroupBox1", 271, 16, 90, 17, "Tous les ports", 0,
     true},
    {"PortStartPortEnd", TControlKind::RadioButton, "GroupBox1", 363, 16, 41, 17, "De", 1, false},
    {"StartPort", TControlKind::Edit, "GroupBox1", 400, 13, 65, 25, "0", 4, false},
    {"UpDown1", TControlKind::SpinButtons, "GroupBox1", 465, 13, 16, 19, nullptr, 2, false},
    {"Label2", TControlKind::Label, "GroupBox1", 491, 17, 17, 13, "a", -1, false},
    {"EndPort", TControlKind::Edit, "GroupBox1", 512, 14, 61, 25, "0", 5, false},
    {"UpDown2", TControlKind::SpinButtons, "GroupBox1", 573, 14, 16, 19, nullptr, 3, false},
    {"GroupBox2", TControlKind::GroupBox, "PanelBottom", 8, 56, 249, 39, " Voir ", 2, false},
    {"VoirDate", TControlKind::CheckBox, "GroupBox2", 8, 16, 97, 17, "Date", 0, true,
     &TDisplayOptions::ShowDate},
    {"VoirIpPort", TControlKind::CheckBox, "GroupBox2", 62, 16, 73, 17, "IP et Ports", 1, true,
     &TDisplayOptions::ShowAddresses},
    {"VoirDrapeaux", TControlKind::CheckBox, "GroupBox2", 148, 16, 97, 17, "Drapeaux TCP", 2, true,
     &TDisplayOptions::ShowFlags},
    {"GroupBox3", TControlKind::GroupBox, "PanelBottom", 262, 56, 309, 39, " Filtre Drapeaux TCP ",
     3, false},
    {"FiltreURG", TControlKind::CheckBox, "GroupBox3", 8, 16, 49, 17, "URG", 0, true,
     &TDisplayOptions::AcceptURG},
    {"FiltreACK", TControlKind::CheckBox, "GroupBox3", 56, 16, 49, 17, "ACK", 1, true,
     &TDisplayOptions::AcceptACK},
    {"FiltrePSH", TControlKind::CheckBox, "GroupBox3", 105, 16, 49, 17, "PSH", 2, true,
     &TDisplayOptions::AcceptPSH},
    {"FiltreRST", TControlKind::CheckBox, "GroupBox3", 154, 16, 49, 17, "RST", 3, true,
     &TDisplayOptions::AcceptRST},
    {"FiltreSYN", TControlKind::CheckBox, "GroupBox3", 203, 16, 49, 17, "SYN", 4, true,
     &TDisplayOptions::AcceptSYN},
    {"FiltreFIN", TControlKind::CheckBox, "GroupBox3", 252, 16, 49, 17, "FIN", 5, true,
     &TDisplayOptions::AcceptFIN},
    {"Btn_StartStop", TControlKind::PushButton, "PanelBottom", 580, 60, 133, 34, "Btn_StartStop",
     0, false},
};
// clang-format on

inline constexpr std::size_t kControlCount = std::size(kMainFormLayout);

// The row of the control of that name. Evaluated while compiling (see TControlName), a name the
// table does not hold is an error there.
constexpr std::size_t RowOf(std::string_view name) {
  for (std::size_t row = 0; row < kControlCount; ++row)
    if (name == kMainFormLayout[row].Name) return row;
  throw "the layout table has no control of this name";
}

// A control named in the code: checked against the table while compiling.
struct TControlName {
  consteval TControlName(const char* name) : Row(RowOf(name)) {}
  std::size_t Row;
};

constexpr const TLayoutEntry& LayoutOf(TControlName control) {
  return kMainFormLayout[control.Row];
}

// The client area the table fills: the log view above the bottom panel.
inline constexpr int kClientWidth = LayoutOf("Ecr").Width;
inline constexpr int kPanelHeight = LayoutOf("PanelBottom").Height;
inline constexpr int kClientHeight = LayoutOf("PanelBottom").Top + kPanelHeight;

// The smallest client area that shows the whole bottom panel: its controls that keep their
// place (the first group grows with the window), a margin as wide as the groups' own, and
// above it a log of a hundred pixels.
constexpr int MinClientWidth() {
  int right = 0;
  for (const TLayoutEntry& entry : kMainFormLayout) {
    if (std::string_view(entry.Parent) == "PanelBottom" &&
        std::string_view(entry.Name) != "GroupBox1")
      right = std::max(right, entry.Left + entry.Width);
  }
  return right + LayoutOf("GroupBox2").Left;
}
inline constexpr int kMinClientWidth = MinClientWidth();
inline constexpr int kMinClientHeight = kPanelHeight + 100;

// The rows of every control that Tab may pass, containers included, in the order Tab visits
// them: the window's controls by their tab order, each followed by its own controls.
struct TTabOrder {
  std::array<std::size_t, kControlCount> Rows{};
  std::size_t Count = 0;

  const std::size_t* begin() const { return Rows.data(); }
  const std::size_t* end() const { return Rows.data() + Count; }
};

constexpr void AppendInTabOrder(TTabOrder& order, std::string_view parent) {
  for (int tab = 0; tab < static_cast<int>(kControlCount); ++tab) {
    for (std::size_t row = 0; row < kControlCount; ++row) {
      const TLayoutEntry& entry = kMainFormLayout[row];
      if (entry.TabOrder != tab || parent != entry.Parent) continue;
      order.Rows[order.Count++] = row;
      AppendInTabOrder(order, entry.Name);
    }
  }
}

constexpr TTabOrder MakeTabOrder() {
  TTabOrder order;
  AppendInTabOrder(order, kMainFormName);
  return order;
}
inline constexpr TTabOrder kTabOrder = MakeTabOrder();

constexpr bool IsContainer(const TLayoutEntry& entry) {
  return entry.Kind == TControlKind::Panel || entry.Kind == TControlKind::GroupBox;
}

// The nine check boxes as options, each read by `checked(entry)`.
template <class F>
TDisplayOptions DisplayOptionsFrom(F&& checked) {
  TDisplayOptions options;
  for (const TLayoutEntry& entry : kMainFormLayout)
    if (entry.Option) options.*entry.Option = checked(entry);
  return options;
}
