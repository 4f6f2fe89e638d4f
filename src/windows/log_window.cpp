#include "windows/log_window.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/job_log.h"

namespace vidmora {

LogWindow::LogWindow(const std::string& logPath, QWidget* parent) : QDialog(parent) {
  const QString path = QString::fromStdString(logPath);
  setWindowTitle(QStringLiteral("Log - %1").arg(QFileInfo(path).fileName()));
  setObjectName(QStringLiteral("LogWindow"));
  resize(760, 480);

  reason_ = new QLabel(this);
  reason_->setObjectName(QStringLiteral("Reason"));
  reason_->setWordWrap(true);
  reason_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  text_ = new QPlainTextEdit(this);
  text_->setObjectName(QStringLiteral("LogText"));
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

  std::string text;
  if (logPath.empty() || !readLogText(logPath, text)) {
    reason_->setText(QStringLiteral("The log could not be read:\n%1").arg(path));
  } else {
    const std::string reason = logReasonFromText(text);
    reason_->setText(reason.empty() ? QStringLiteral("No failure is recorded in this log.")
                                    : QString::fromStdString(reason));
    if (!reason.empty()) {
      QFont bold = reason_->font();
      bold.setBold(true);
      reason_->setFont(bold);
    }
    // Bytes that are not UTF-8 (a source's name, ffmpeg's messages) show as replacement marks.
    text_->setPlainText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  copy_ = buttons->addButton(QStringLiteral("&Copy All"), QDialogButtonBox::ActionRole);
  copy_->setObjectName(QStringLiteral("CopyAll"));
  copy_->setEnabled(!text_->document()->isEmpty());
  connect(copy_, &QPushButton::clicked, this, &LogWindow::copyAll);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(reason_);
  layout->addWidget(text_, 1);
  layout->addWidget(buttons);
}

void LogWindow::copyAll() {
  text_->selectAll();
  QApplication::clipboard()->setText(text_->toPlainText());
}

LogWindow* showLogWindow(QWidget* owner, const std::string& logPath) {
  auto* window = new LogWindow(logPath, owner);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->show();
  return window;
}

}  // namespace vidmora
