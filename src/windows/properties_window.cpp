#include "windows/properties_window.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <thread>

#include "engine/source_details_probe.h"

namespace vidmora {

namespace {

QString qs(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A probe that has not ended after a minute is taken as hung, as when adding.
constexpr unsigned ProbeLimitMs = 60000;

}  // namespace

PropertiesWindow::PropertiesWindow(const std::string& sourcePath, QWidget* parent)
    : QDialog(parent), sourcePath_(sourcePath) {
  setObjectName(QStringLiteral("PropertiesWindow"));
  setWindowTitle(QStringLiteral("Properties - %1").arg(QFileInfo(qs(sourcePath)).fileName()));
  resize(640, 520);

  auto* path = new QLabel(qs(sourcePath), this);
  path->setObjectName(QStringLiteral("SourcePath"));
  path->setWordWrap(true);
  path->setTextInteractionFlags(Qt::TextSelectableByMouse);
  summary_ = new QLabel(QStringLiteral("Reading the source..."), this);
  summary_->setObjectName(QStringLiteral("Summary"));
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QFont bold = summary_->font();
  bold.setBold(true);
  summary_->setFont(bold);

  expected_ = new QLabel(this);
  expected_->setObjectName(QStringLiteral("ExpectedSize"));
  expected_->hide();

  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("Details"));
  tree_->setColumnCount(1);
  tree_->setHeaderHidden(true);
  tree_->setRootIsDecorated(true);
  tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  copy_ = buttons->addButton(QStringLiteral("&Copy All"), QDialogButtonBox::ActionRole);
  copy_->setObjectName(QStringLiteral("CopyAll"));
  copy_->setEnabled(false);
  connect(copy_, &QPushButton::clicked, this, &PropertiesWindow::copyAll);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(path);
  layout->addWidget(summary_);
  layout->addWidget(expected_);
  layout->addWidget(tree_, 1);
  layout->addWidget(buttons);
}

void PropertiesWindow::setDetails(std::shared_ptr<const SourceDetails> details,
                                  const QString& why) {
  details_ = std::move(details);
  tree_->clear();
  if (!details_) {
    summary_->setText(why.isEmpty() ? QStringLiteral("The source could not be read.") : why);
    copy_->setEnabled(false);
    return;
  }
  summary_->setText(qs(sourceSummary(*details_)));
  // One item per line of the description; the lines of a stream or a chapter list hang under it.
  const QStringList lines =
      qs(sourceDescription(*details_)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  QTreeWidgetItem* parent = nullptr;
  for (const QString& line : lines) {
    if (line.startsWith(QLatin1String("  ")) && parent != nullptr) {
      new QTreeWidgetItem(parent, {line.trimmed()});
      continue;
    }
    parent = new QTreeWidgetItem(tree_, {line});
  }
  tree_->expandAll();
  copy_->setEnabled(true);
}

void PropertiesWindow::setExpectedSize(const QString& text) {
  expected_->setText(text.isEmpty() ? QString() : QStringLiteral("Expected output: ") + text);
  expected_->setVisible(!text.isEmpty());
}

void PropertiesWindow::copyAll() {
  if (!details_) return;
  QApplication::clipboard()->setText(
      qs(sourcePath_ + "\n" + sourceSummary(*details_) + "\n" + sourceDescription(*details_)));
}

PropertiesWindow* showPropertiesWindow(QWidget* owner, const std::string& sourcePath,
                                       std::shared_ptr<const SourceDetails> details,
                                       const std::string& encoderPath) {
  auto* window = new PropertiesWindow(sourcePath, owner);
  window->setAttribute(Qt::WA_DeleteOnClose);
  if (details) {
    window->setDetails(std::move(details));
  } else {
    QPointer<PropertiesWindow> target(window);
    std::thread([target, sourcePath, encoderPath] {
      DetailsProbe probe = probeSourceDetails(encoderPath, sourcePath, ProbeLimitMs);
      QString why;
      if (!probe.started)
        why = QStringLiteral("The encoder could not be run.");
      else if (probe.timedOut)
        why = QStringLiteral("Reading the source took too long.");
      else if (!probe.details)
        why = QStringLiteral(
            "The source cannot be read: it is missing or not a video or audio file.");
      // The program may be ending meanwhile: then nobody is left to show the result.
      QCoreApplication* app = QCoreApplication::instance();
      if (app == nullptr) return;
      QMetaObject::invokeMethod(
          app,
          [target, details = std::move(probe.details), why] {
            if (target) target->setDetails(details, why);
          },
          Qt::QueuedConnection);
    }).detach();
  }
  window->show();
  return window;
}

}  // namespace vidmora
