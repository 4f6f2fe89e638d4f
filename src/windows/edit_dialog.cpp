#include "windows/edit_dialog.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace vidmora {

TFEdit::TFEdit(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TFEdit"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  LBPrompt = new QLabel(this);
  LBPrompt->setObjectName(QStringLiteral("LBPrompt"));
  LBPrompt->setFixedWidth(349);
  EdString = new QLineEdit(this);
  EdString->setObjectName(QStringLiteral("EdString"));
  EdString->setFixedWidth(349);
  BOk = new QPushButton(tr("O&K"), this);
  BOk->setObjectName(QStringLiteral("BOk"));
  BOk->setDefault(true);
  BCancel = new QPushButton(tr("&Cancel"), this);
  BCancel->setObjectName(QStringLiteral("BCancel"));
  connect(BOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(BCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BOk);
  buttons->addWidget(BCancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->addWidget(LBPrompt);
  layout->addWidget(EdString);
  layout->addStretch();
  layout->addLayout(buttons);
  resize(374, 114);
}

namespace {
void centerOnScreen(QWidget* window) {
  if (QScreen* screen = QGuiApplication::primaryScreen())
    window->move(screen->availableGeometry().center() - window->rect().center());
}
}  // namespace

bool askText(const QString& caption, const QString& prompt, int helpContext, std::string& text,
             std::size_t capacity) {
  TFEdit form;
  form.setProperty("helpContext", helpContext);
  form.setWindowTitle(caption);
  form.LBPrompt->setText(prompt);
  form.EdString->setText(QString::fromStdString(text));
  centerOnScreen(&form);
  if (form.exec() != QDialog::Accepted) return false;
  QString typed = form.EdString->text();
  const qsizetype keep = capacity >= 2 ? static_cast<qsizetype>(capacity - 2) : 0;
  if (typed.size() > keep) {
    typed.truncate(keep);
    // Never leave half of a surrogate pair behind.
    if (!typed.isEmpty() && typed.back().isHighSurrogate()) typed.chop(1);
  }
  text = typed.toStdString();
  return true;
}

bool askNonEmptyText(const QString& caption, const QString& prompt, int helpContext,
                     std::string& text, std::size_t capacity) {
  bool ok;
  do {
    ok = askText(caption, prompt, helpContext, text, capacity);
  } while (ok && text.empty());
  return ok;
}

}  // namespace vidmora
