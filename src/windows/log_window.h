// The log of one conversion in a read-only window: the reason of a failure on top, the whole
// log below in a fixed-width font, and a button that copies it all.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vidmora {

class LogWindow : public QDialog {
  Q_OBJECT
 public:
  explicit LogWindow(const std::string& logPath, QWidget* parent = nullptr);

  QLabel* reasonLabel() const { return reason_; }
  QPlainTextEdit* textView() const { return text_; }
  QPushButton* copyButton() const { return copy_; }

 public slots:
  // Selects the whole log and puts it on the clipboard.
  void copyAll();

 private:
  QLabel* reason_;
  QPlainTextEdit* text_;
  QPushButton* copy_;
};

// Opens the log in a window of its own that closes itself; it does not block the caller.
LogWindow* showLogWindow(QWidget* owner, const std::string& logPath);

}  // namespace vidmora
