#include "windows/tip_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QTextEdit>
#include <QVBoxLayout>

#include "platform/texts.h"
#include "windows/help_pages.h"
#include "windows/tip_texts.h"

namespace vidmora {

namespace {
bool isBlank(char c) {
  return c == ' ' || c == '\t';
}
bool isWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
}  // namespace

std::string reflowTipText(std::string_view text) {
  // Pass 1: blanks are held back and written only when something other than a line end
  // follows them.
  std::string trimmed;
  trimmed.reserve(text.size());
  std::size_t heldFrom = 0;
  std::size_t held = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (isBlank(c)) {
      if (held == 0) heldFrom = i;
      ++held;
      continue;
    }
    if (held > 0 && c != '\n') trimmed.append(text.substr(heldFrom, held));
    held = 0;
    trimmed.push_back(c);
  }

  // Pass 2: a line break between two other characters is a soft break.
  std::string out;
  out.reserve(trimmed.size());
  for (std::size_t i = 0; i < trimmed.size(); ++i) {
    const char c = trimmed[i];
    const bool soft = c == '\n' && i > 0 && i + 1 < trimmed.size() && trimmed[i + 1] != '\n' &&
                      trimmed[i - 1] != '\n';
    if (!soft) {
      out.push_back(c);
    } else if (!isWhite(trimmed[i - 1])) {
      out.push_back(' ');
    }
  }
  return out;
}

TipWindow::TipWindow(QWidget* owner, const QString& caption, const QString& title,
                     const char* const* tips, bool showAtStartup)
    : QDialog(owner), tips_(tips) {
  setObjectName(QStringLiteral("TFTip"));
  setWindowTitle(caption);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  close_ = new QPushButton(QStringLiteral("&Close"));
  close_->setObjectName(QStringLiteral("BitBtnClose"));
  close_->setDefault(true);
  next_ = new QPushButton(QStringLiteral("&Next"));
  next_->setObjectName(QStringLiteral("BitBtnNext"));
  next_->setAutoDefault(false);
  previous_ = new QPushButton(QStringLiteral("&Previous"));
  previous_->setObjectName(QStringLiteral("BitBtnPrevious"));
  previous_->setAutoDefault(false);
  startup_ = new QCheckBox(QStringLiteral("Show at startup"));
  startup_->setObjectName(QStringLiteral("CBStartup"));
  connect(close_, &QPushButton::clicked, this, &TipWindow::reject);
  connect(next_, &QPushButton::clicked, this, &TipWindow::next);
  connect(previous_, &QPushButton::clicked, this, &TipWindow::previous);

  // The white card: icon and heading, a rule, then the tip.
  auto* container = new QFrame;
  container->setObjectName(QStringLiteral("picContainer"));
  container->setAutoFillBackground(true);
  QPalette white = container->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::Base, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  white.setColor(QPalette::Text, Qt::black);
  container->setPalette(white);
  container->setFrameShape(QFrame::StyledPanel);

  auto* image = new QLabel;
  image->setObjectName(QStringLiteral("Image1"));
  QIcon icon = QApplication::windowIcon();
  if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_MessageBoxInformation);
  image->setPixmap(icon.pixmap(32, 32));
  image->setFixedSize(32, 32);
  title_ = new QLabel(title);
  title_->setObjectName(QStringLiteral("LBTitle"));
  QFont heading = title_->font();
  heading.setBold(true);
  heading.setPixelSize(19);
  title_->setFont(heading);
  auto* rule = new QFrame;
  rule->setObjectName(QStringLiteral("Shape2"));
  rule->setFixedHeight(2);
  rule->setAutoFillBackground(true);
  QPalette black = rule->palette();
  black.setColor(QPalette::Window, Qt::black);
  rule->setPalette(black);
  text_ = new QTextEdit;
  text_->setObjectName(QStringLiteral("REText"));
  text_->setReadOnly(true);
  text_->setFrameShape(QFrame::NoFrame);
  text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text_->setPalette(white);

  auto* headingRow = new QHBoxLayout;
  headingRow->addWidget(image);
  headingRow->addWidget(title_, 1);
  auto* card = new QVBoxLayout(container);
  card->addLayout(headingRow);
  card->addWidget(rule);
  card->addWidget(text_, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(startup_);
  buttons->addStretch();
  buttons->addWidget(previous_);
  buttons->addWidget(next_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(container, 1);
  layout->addLayout(buttons);
  setFixedSize(438, 300);

  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, this, [this] { openHelpContents(this); });

  // The window always starts at the first tip.
  count_ = 0;
  if (tips_ != nullptr) {
    while (tips_[count_] != nullptr && *tips_[count_]) ++count_;
  }
  current_ = 0;
  startup_->setChecked(showAtStartup);
  showCurrent();
  close_->setFocus();
}

bool TipWindow::showAtStartup() const {
  return startup_->isChecked();
}

void TipWindow::showCurrent() {
  text_->clear();
  if (count_ > 0) {
    text_->setPlainText(QString::fromUtf8(reflowTipText(tips_[current_]).c_str()));
  }
  previous_->setEnabled(count_ > 1 && current_ != 0);
  next_->setEnabled(count_ > 1 && current_ + 1 != count_);
}

void TipWindow::next() {
  if (current_ + 1 < count_) ++current_;
  showCurrent();
}

void TipWindow::previous() {
  if (current_ > 0) --current_;
  showCurrent();
}

bool runTipOfTheDay(QWidget* owner, bool showAtStartup) {
  TipWindow window(owner, QString::fromUtf8(texts::TipCaption), QString::fromUtf8(texts::TipTitle),
                   TipTexts, showAtStartup);
  window.exec();
  return window.showAtStartup();
}

}  // namespace vidmora
