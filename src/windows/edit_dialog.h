// The one-line text prompt TFEdit and the two routines that run it.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vidmora {

class TFEdit : public QDialog {
  Q_OBJECT
 public:
  explicit TFEdit(QWidget* parent = nullptr);
  QLabel* LBPrompt;
  QLineEdit* EdString;
  QPushButton* BOk;
  QPushButton* BCancel;
};

// Runs the prompt with `text` filled in. On OK, `text` receives what was typed, at most
// capacity - 2 characters, and the result is true; otherwise `text` is unchanged.
bool askText(const QString& caption, const QString& prompt, int helpContext, std::string& text,
             std::size_t capacity);
// Asks again as long as the prompt is confirmed with an empty text.
bool askNonEmptyText(const QString& caption, const QString& prompt, int helpContext,
                     std::string& text, std::size_t capacity);

}  // namespace vidmora
