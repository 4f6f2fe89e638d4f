// The about box TFQAbout.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace vidmora {

class TFQAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TFQAbout(QWidget* parent = nullptr);
  QLabel* Image1;
  QPushButton* BitBtn1;
  QLabel* Id1;
};

// Shows the about box modally, centred on `owner` when given. The text keeps its line breaks and
// is never wrapped; the box grows with it.
void showAbout(const QString& caption, const QString& text, int helpContext,
               QWidget* owner = nullptr);

}  // namespace vidmora
