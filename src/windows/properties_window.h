// "Properties" of a source: what it holds (container, every stream, chapters) in a read-only
// window, with a button that copies it all as text.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "videolist/source_details.h"

class QLabel;
class QTreeWidget;
class QPushButton;

namespace vidmora {

class PropertiesWindow : public QDialog {
  Q_OBJECT
 public:
  PropertiesWindow(const std::string& sourcePath, QWidget* parent = nullptr);

  // Shows the details; none: the source could not be read ("why" says so).
  void setDetails(std::shared_ptr<const SourceDetails> details, const QString& why = {});

  // What the conversion is expected to write ("about 12.3 MB"); empty hides the line.
  void setExpectedSize(const QString& text);

  QLabel* summaryLabel() const { return summary_; }
  QLabel* expectedLabel() const { return expected_; }
  QTreeWidget* tree() const { return tree_; }
  QPushButton* copyButton() const { return copy_; }

 public slots:
  void copyAll();

 private:
  std::string sourcePath_;
  std::shared_ptr<const SourceDetails> details_;
  QLabel* summary_;
  QLabel* expected_;
  QTreeWidget* tree_;
  QPushButton* copy_;
};

// Opens Properties for a source in a window of its own that closes itself. With no details at
// hand (a row read from the history) the encoder probes the source on a thread of its own and
// the window fills in when it ends; the caller never waits.
PropertiesWindow* showPropertiesWindow(QWidget* owner, const std::string& sourcePath,
                                       std::shared_ptr<const SourceDetails> details,
                                       const std::string& encoderPath);

}  // namespace vidmora
