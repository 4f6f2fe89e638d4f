// Tip of the day.
#pragma once

#include <QDialog>
#include <string>
#include <string_view>

class QCheckBox;
class QLabel;
class QPushButton;
class QTextEdit;

namespace vidmora {

// Shows the tips modally; returns the state of "Show at startup" when the window closed,
// whichever way it was closed.
bool runTipOfTheDay(QWidget* owner, bool showAtStartup);

// Turns a tip written over several lines into flowing text: blanks at line ends go, a single
// line break becomes one blank (or nothing after white space), empty lines stay.
std::string reflowTipText(std::string_view text);

// The window itself; `tips` is a table ended by an empty text (or nullptr).
class TipWindow : public QDialog {
  Q_OBJECT

 public:
  TipWindow(QWidget* owner, const QString& caption, const QString& title, const char* const* tips,
            bool showAtStartup);

  bool showAtStartup() const;
  int count() const { return count_; }
  int current() const { return current_; }

 public slots:
  void next();
  void previous();

 private:
  void showCurrent();

  const char* const* tips_;
  int count_ = 0;
  int current_ = 0;
  QPushButton* close_ = nullptr;
  QPushButton* next_ = nullptr;
  QPushButton* previous_ = nullptr;
  QCheckBox* startup_ = nullptr;
  QLabel* title_ = nullptr;
  QTextEdit* text_ = nullptr;
};

}  // namespace vidmora
