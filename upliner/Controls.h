// The state of one window control, as plain data.
//
// The upgrade window keeps every control it has as a TControl: its geometry
// (left, top, width, height relative to its container, in pixels), its
// visibility, enabling, caption or text, and for lists, memos and check boxes
// their items, lines and check mark. A view toolkit creates one widget per
// TControl and shows this state; tests read it directly without a display.
// Changes go through the form (TReinstallForm::SetText and friends) so that
// the bound handlers run as they would for the user's own edits.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/String.h"

namespace zo {

enum class TControlKind : std::uint8_t {
  ckLabel,       // static caption
  ckEdit,        // one-line edit
  ckComboBox,    // editable drop-down list
  ckCheckBox,
  ckButton,
  ckSpeedButton, // small glyph button
  ckMemo,        // multi-line text
  ckGroupBox,
  ckPanel,
  ckImage,
  ckStaticText,  // fixed-size caption
  ckBevel,       // horizontal line
};
using enum TControlKind;

// Standard heights of controls whose height the window leaves to the toolkit.
inline constexpr int kEditHeight = 21;
inline constexpr int kLabelHeight = 13;
inline constexpr int kCheckBoxHeight = 17;

struct TControl {
  String Name;
  TControlKind Kind = ckLabel;
  TControl* Parent = nullptr;  // nullptr: a direct child of the window

  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool Visible = true;
  bool Enabled = true;

  // Caption of labels, buttons, check boxes and groups; text of edits and
  // drop-down lists.
  String Text;
  std::vector<String> Items;  // drop-down lists
  int ItemIndex = -1;         // drop-down lists; -1 when no item is selected
  std::vector<String> Lines;  // memos
  bool Checked = false;       // check boxes

  bool Password = false;      // shows '*' for every character
  bool Bold = false;
  bool AnchorRight = false;   // widens with its container

  // Labels size themselves to their caption. A label starts at CaptionLeft,
  // unless its caption would then run into FocusControl, the field it names
  // on the same row: then it ends just before that field.
  int CaptionLeft = 0;
  TControl* FocusControl = nullptr;

  // Handlers bound by the form; empty when the control has none.
  std::function<void()> OnChange;    // text, lines or selection changed
  std::function<void()> OnClick;     // button pressed, check box toggled
  std::function<void()> OnDropDown;  // list about to open

  int Right() const { return Left + Width; }
  int Bottom() const { return Top + Height; }
  bool Filled() const { return !Text.empty(); }
};

}  // namespace zo
