#include "app/thumbnail_column.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

#include "app/window_images.h"
#include "engine/thumbnail.h"
#include "lvdata/lvdata.h"

namespace vidmora {
namespace {

// Pictures of rows scrolled past long ago are decoded again from the cache folder if needed.
constexpr int KeptPictures = 2000;
// Cells asked for and scrolled away before their turn are forgotten, oldest first.
constexpr std::size_t MaxWaiting = 200;

// Paints the picture centred in its cell and gives the rows the picture's height.
class PictureDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem plain = option;
    initStyleOption(&plain, index);
    plain.icon = QIcon();
    plain.features &= ~QStyleOptionViewItem::HasDecoration;
    plain.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : nullptr;
    if (style) style->drawControl(QStyle::CE_ItemViewItem, &plain, painter, widget);
    const QPixmap picture = qvariant_cast<QPixmap>(index.data(Qt::DecorationRole));
    if (picture.isNull()) return;
    QSize size = picture.size() / picture.devicePixelRatio();
    size.scale(option.rect.size() - QSize(4, 4), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), size);
    target.moveCenter(option.rect.center());
    painter->drawPixmap(target, picture);
  }

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return {ThumbnailColumn::Width + 4, ThumbnailColumn::Height + 4};
  }
};

}  // namespace

ThumbnailColumn::ThumbnailColumn(TListViewData* view, int column,
                                 std::function<std::string(int row)> sourceOf)
    : view_(view), column_(column), sourceOf_(std::move(sourceOf)) {
  pictures_.setMaxCost(KeptPictures);
  soundIcon_ = themedIcon("audio-x-generic", QStyle::SP_MediaVolume, view->style())
                   .pixmap(Height - 8, Height - 8);
  view_->setItemDelegateForColumn(column_, new PictureDelegate(view_));
  view_->OnLVPicture = [this](TListViewData*, int row, int column) {
    return column == column_ ? picture(row) : QPixmap();
  };
  view_->lvdSetColumnShown(column_, false);
  thread_ = std::thread([this] { work(); });
}

ThumbnailColumn::~ThumbnailColumn() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  thread_.join();
  view_->OnLVPicture = nullptr;
}

void ThumbnailColumn::setShown(bool on) {
  shown_ = on;
  view_->lvdSetColumnShown(column_, on);
  // The rows take the pictures' height, or their own again.
  view_->doItemsLayout();
}

QPixmap ThumbnailColumn::picture(int row) {
  if (!shown_) return {};
  const std::string source = sourceOf_(row);
  if (source.empty()) return {};
  const QString key = QString::fromStdString(source);
  if (const QPixmap* kept = pictures_.object(key)) return *kept;
  if (noPicture_.contains(key)) return soundIcon_;
  if (!asked_.contains(key)) {
    asked_.insert(key);
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(source);
    while (queue_.size() > MaxWaiting) {
      asked_.remove(QString::fromStdString(queue_.front()));
      queue_.pop_front();
    }
    wake_.notify_one();
  }
  return {};
}

void ThumbnailColumn::work() {
  const ThumbnailCache cache(thumbnailCacheFolder());
  for (;;) {
    std::string source;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      source = std::move(queue_.back());
      queue_.pop_back();
    }
    Thumbnail thumbnail;
    const ThumbnailStatus status = cache.folder().empty()
                                       ? extractThumbnail(source, Width, Height, thumbnail)
                                       : cache.get(source, Width, Height, thumbnail);
    QImage image;
    if (status == ThumbnailStatus::Ok && !thumbnail.empty())
      image = QImage(thumbnail.rgb.data(), thumbnail.width, thumbnail.height, thumbnail.width * 3,
                     QImage::Format_RGB888)
                  .copy();
    const bool noPicture = status == ThumbnailStatus::NoPicture;
    // The window drops the call when this object has gone meanwhile.
    QMetaObject::invokeMethod(
        this,
        [this, key = QString::fromStdString(source), image, noPicture] {
          arrived(key, image, noPicture);
        },
        Qt::QueuedConnection);
  }
}

void ThumbnailColumn::arrived(const QString& path, const QImage& image, bool noPicture) {
  asked_.remove(path);
  ++decoded_;
  if (noPicture)
    noPicture_.insert(path);
  else
    // An unreadable source gets an empty picture and is not asked for again.
    pictures_.insert(path, new QPixmap(QPixmap::fromImage(image)));
  if (shown_) view_->viewport()->update();
}

}  // namespace vidmora
