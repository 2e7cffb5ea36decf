#pragma once
#include <QColor>

#include "app/control_values.h"

class QComboBox;
class QGroupBox;
class QWidget;

namespace Ui {
class TForm1;
}

namespace pellavo {

// The index of the checked radio button of a radio group, in the order the group shows them;
// -1 when none is checked.
int CheckedIndex(const QGroupBox& group);
// The filter box's selected item: the item whose text the box shows (letter case ignored), or
// -1 when the text matches none, so that what the box shows is what runs.
int SelectedFilter(const QComboBox& box);
// A colour as the window system's colour value (red in the low byte), and back.
TColor ToColor(const QColor& color);
QColor FromColor(TColor color);

// The control that holds an option of kRunOptions (one with a Control).
QWidget& OptionControl(const Ui::TForm1& ui, const TRunOption& option);
// Gives the control of every option of kRunOptions its range, its default and its hint, so
// the window starts as the table says.
void ShowOptionDefaults(const Ui::TForm1& ui);

// Every run option as the window's controls hold it now.
TControlValues ReadControls(const Ui::TForm1& ui);

}  // namespace pellavo
