// The list's thumbnail column: a small picture of each source, decoded on a thread of its own
// through the thumbnail cache and kept in memory for the rows seen lately. Only the cells being
// painted ask for a picture, the newest asks first, so a long list scrolls without waiting.
#pragma once

#include <QCache>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vidmora {

class TListViewData;

class ThumbnailColumn : public QObject {
  Q_OBJECT
 public:
  static constexpr int Width = 80, Height = 45;

  // `column` of `view` shows the pictures; sourceOf names a row's source ("" for none). The
  // column must go before the view.
  ThumbnailColumn(TListViewData* view, int column, std::function<std::string(int row)> sourceOf);
  ~ThumbnailColumn() override;

  // Hidden columns ask for nothing.
  void setShown(bool on);
  bool shown() const { return shown_; }
  // The row's picture when it is at hand (an icon for a source with no picture); otherwise the
  // picture is asked for and the cell repaints when it comes.
  QPixmap picture(int row);
  // Pictures decoded so far (tests wait on it).
  int decoded() const { return decoded_; }
  // Pictures asked for and not yet decoded.
  int waiting() const { return static_cast<int>(asked_.size()); }

 private:
  void work();
  void arrived(const QString& path, const QImage& image, bool noPicture);

  TListViewData* view_;
  int column_;
  std::function<std::string(int)> sourceOf_;
  bool shown_ = false;
  int decoded_ = 0;
  QCache<QString, QPixmap> pictures_;
  QSet<QString> noPicture_;  // sources with sound only: the sound icon
  QSet<QString> asked_;      // waiting or being decoded
  QPixmap soundIcon_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;  // newest last; taken from the back
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vidmora
