#include "app/control_binding.h"

#include <QComboBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QSpinBox>
#include <stdexcept>
#include <string>

#include "app/qt_paths.h"
#include "ui_main_window.h"

namespace pellavo {
namespace {

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// The value an option's control holds: a spin box's number, a radio group's checked item, a
// check box's state.
int ControlValue(const QWidget& control) {
  if (const auto* spin = qobject_cast<const QSpinBox*>(&control)) return spin->value();
  if (const auto* group = qobject_cast<const QGroupBox*>(&control)) return CheckedIndex(*group);
  if (const auto* box = qobject_cast<const QAbstractButton*>(&control)) return box->isChecked() ? 1 : 0;
  throw std::logic_error("no option value in control " + control.objectName().toStdString());
}

// Gives an option's control its range and default; a radio group must have a button per item.
void ShowValue(QWidget& control, const TRunOption& option) {
  if (auto* spin = qobject_cast<QSpinBox*>(&control)) {
    spin->setRange(option.Min, option.Max);
    spin->setSpecialValueText(Text(option.OffText));
    spin->setValue(option.Default);
  } else if (auto* group = qobject_cast<QGroupBox*>(&control)) {
    const QList<QRadioButton*> items = group->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    if (items.size() != qsizetype(option.Items.size()))
      throw std::logic_error("the window's " + std::string(option.Control) + " does not show the option's items");
    items[option.Default]->setChecked(true);
  } else if (auto* box = qobject_cast<QAbstractButton*>(&control)) {
    box->setChecked(option.Default == 1);
  } else {
    throw std::logic_error("no option value in control " + std::string(option.Control));
  }
}

}  // namespace

int CheckedIndex(const QGroupBox& group) {
  const QList<QRadioButton*> buttons = group.findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
  for (int i = 0; i < buttons.size(); ++i)
    if (buttons[i]->isChecked()) return i;
  return -1;
}

int SelectedFilter(const QComboBox& box) {
  const int current = box.currentIndex();
  if (current >= 0 && box.itemText(current) == box.currentText()) return current;
  return box.findText(box.currentText(), Qt::MatchFixedString);
}

TColor ToColor(const QColor& color) {
  return static_cast<TColor>(color.red() | color.green() << 8 | color.blue() << 16);
}

QColor FromColor(TColor color) { return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF); }

QWidget& OptionControl(const Ui::TForm1& ui, const TRunOption& option) {
  auto* control = ui.FormClient->findChild<QWidget*>(Text(option.Control));
  if (!control) throw std::logic_error("the window has no control " + std::string(option.Control));
  return *control;
}

void ShowOptionDefaults(const Ui::TForm1& ui) {
  for (const TRunOption& option : kRunOptions) {
    if (option.Control.empty()) continue;
    QWidget& control = OptionControl(ui, option);
    ShowValue(control, option);
    control.setStatusTip(QString::fromStdString(OptionText(option.Hint)));
  }
}

TControlValues ReadControls(const Ui::TForm1& ui) {
  TControlValues c;
  for (size_t row = 0; row < kRunOptionCount; ++row)
    if (!kRunOptions[row].Control.empty()) c.Options[row] = ControlValue(OptionControl(ui, kRunOptions[row]));
  c.Destination = ToPath(ui.Edit1->text());
  c.AdditionText = ToPath(ui.Edit2->text());
  c.Filter = SelectedFilter(*ui.Filters);
  c.BorderColor = ToColor(ui.Shape1->Color());
  c.BackgroundColor = ToColor(ui.BackgroundSwatch->Color());
  c.IntoSubfolder = ui.IntoSubfolder->isChecked();
  c.SubfolderName = ToPath(ui.SubfolderName->text());
  return c;
}

}  // namespace pellavo
