#include "app/control_binding.h"

#include <QComboBox>
#include <QGroupBox>
#include <QRadioButton>

#include "app/qt_paths.h"
#include "ui_main_window.h"

namespace pellavo {

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

TControlValues ReadControls(const Ui::TForm1& ui) {
  TControlValues c;
  c.FastCopy = ui.fCopy->isChecked();
  c.Destination = ToPath(ui.Edit1->text());
  c.OutputFormat = CheckedIndex(*ui.RG3);
  c.NameAddition = CheckedIndex(*ui.RG2);
  c.AdditionText = ToPath(ui.Edit2->text());
  c.MaxThreadsOn = ui.syncit->isChecked();
  c.MaxThreads = ui.SpinEdit2->value();
  c.ThreadDelay = ui.SpinEdit3->value();
  c.MaxDimension = CheckedIndex(*ui.RG1);
  c.Pixels = ui.SpinEdit1->value();
  c.Percent = ui.SpinEdit4->value();
  c.Filter = SelectedFilter(*ui.Filters);
  c.Overwrite = ui.CheckBox1->isChecked();
  c.BorderOn = ui.CheckBox3->isChecked();
  c.BorderWidth = ui.SpinEdit5->value();
  c.BorderColor = ToColor(ui.Shape1->Color());
  c.FrameOn = ui.Framit->isChecked();
  c.Wide = CheckedIndex(*ui.RG4);
  c.AutoRotate = ui.AutoRotate->isChecked();
  c.KeepMetadata = ui.KeepMetadata->isChecked();
  c.BackgroundColor = ToColor(ui.BackgroundSwatch->Color());
  c.Quality = ui.SpinEditQuality->value();
  c.OnlyShrink = ui.OnlyShrink->isChecked();
  c.KeepDates = ui.KeepDates->isChecked();
  c.KeepTree = ui.KeepTree->isChecked();
  c.IntoSubfolder = ui.IntoSubfolder->isChecked();
  c.SubfolderName = ToPath(ui.SubfolderName->text());
  c.SkipExisting = ui.SkipExisting->isChecked();
  c.FirstFrame = ui.FirstFrame->isChecked();
  c.MaxKb = ui.SpinEditMaxKb->value();
  return c;
}

}  // namespace pellavo
