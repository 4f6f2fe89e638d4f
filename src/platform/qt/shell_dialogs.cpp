#include "platform/qt/shell_dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace vidmora {

bool browseForFolder(QWidget* owner, const QString& title, int /*extraFlags*/, std::string& path) {
  const QString chosen =
      QFileDialog::getExistingDirectory(owner, title, QString::fromStdString(path));
  if (chosen.isEmpty()) return false;
  path = chosen.toStdString();
  return true;
}

QStringList toQtNameFilters(const std::string& filterText) {
  const QStringList parts = QString::fromStdString(filterText).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString label = parts[i].trimmed();
    // A label may show its patterns already ("Video Files (*.avi;*.mpg)"); Qt reads the
    // patterns from the last parentheses, so the label keeps only its words.
    const qsizetype open = label.lastIndexOf(QStringLiteral(" ("));
    if (open > 0 && label.endsWith(QLatin1Char(')'))) label.truncate(open);
    QStringList patterns;
    for (const QString& raw : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString pattern = raw.trimmed();
      if (pattern.isEmpty()) continue;
      for (const QString& variant : {pattern.toLower(), pattern.toUpper()})
        if (!patterns.contains(variant)) patterns.push_back(variant);
    }
    if (label.isEmpty() || patterns.isEmpty()) continue;
    filters.push_back(label + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                      QLatin1Char(')'));
  }
  return filters;
}

bool openFilesDialog(QWidget* owner, const QString& title, const std::string& initialFolder,
                     const std::string& filterText, int filterIndex,
                     std::vector<std::string>& paths, std::size_t maxCount) {
  paths.clear();
  QFileDialog dialog(owner, title, QString::fromStdString(initialFolder));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  const QStringList filters = toQtNameFilters(filterText);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    // Index 0 or 1 both start on the first pair.
    const qsizetype at = filterIndex > 0 ? filterIndex - 1 : 0;
    dialog.selectNameFilter(filters[at < filters.size() ? at : 0]);
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  for (const QString& file : dialog.selectedFiles()) {
    if (paths.size() >= maxCount) break;
    paths.push_back(file.toStdString());
  }
  return !paths.empty();
}

bool shellOpen(QWidget* /*owner*/, const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

bool shellExplore(QWidget* /*owner*/, const std::string& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
  return true;
}

}  // namespace vidmora
