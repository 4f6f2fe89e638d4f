#include "lvdata/lvdata.h"

#include <algorithm>

#include <QAbstractTableModel>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>

namespace vidmora {

// A drag of rows names the process and the list it came from: no other list takes it.
constexpr const char* RowsMimeType = "application/x-vidmora-list-rows";

// A table model that holds no rows: a count, the column captions, and the view to ask.

class LvdModel final : public QAbstractTableModel {
 public:
  explicit LvdModel(TListViewData* view) : QAbstractTableModel(view), view_(view) {}

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : count_; }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(captions_.size());
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= count_) return {};
    if (role == Qt::DisplayRole) return view_->cellText(index.row(), index.column());
    if (role == Qt::ToolTipRole) {
      const QString tip = view_->cellToolTip(index.row(), index.column());
      return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    if (role == Qt::DecorationRole && index.column() == 0) {
      const int image = view_->rowImage(index.row());
      const auto& images = view_->imageList();
      if (image >= 0 && image < images.size()) return images[image];
    }
    if (role == Qt::DecorationRole && index.column() > 0 && view_->OnLVPicture) {
      const QPixmap picture = view_->OnLVPicture(view_, index.row(), index.column());
      if (!picture.isNull()) return picture;
    }
    return {};
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < captions_.size())
      return captions_[section];
    return {};
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    // Rows are dropped between rows, never onto one.
    if (!index.isValid()) return dragging ? Qt::ItemIsDropEnabled : Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    return dragging ? flags | Qt::ItemIsDragEnabled : flags;
  }

  QStringList mimeTypes() const override { return {QString::fromLatin1(RowsMimeType)}; }
  QMimeData* mimeData(const QModelIndexList& indexes) const override {
    QList<int> rows;
    for (const QModelIndex& index : indexes)
      if (index.isValid() && !rows.contains(index.row())) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return view_->lvdRowsMimeData(rows);
  }
  Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
  Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }

  bool dragging = false;

  void addCaption(const QString& caption) {
    const int at = static_cast<int>(captions_.size());
    beginInsertColumns(QModelIndex(), at, at);
    captions_.push_back(caption);
    endInsertColumns();
  }

  int count() const { return count_; }

  void setCount(int n) {
    if (n < 0) n = 0;
    if (n > count_) {
      beginInsertRows(QModelIndex(), count_, n - 1);
      count_ = n;
      endInsertRows();
    } else if (n < count_) {
      beginRemoveRows(QModelIndex(), n, count_ - 1);
      count_ = n;
      endRemoveRows();
    }
  }

  void resetTo(int n) {
    beginResetModel();
    count_ = n < 0 ? 0 : n;
    endResetModel();
  }

  void removeOne(int at) {
    beginRemoveRows(QModelIndex(), at, at);
    --count_;
    endRemoveRows();
  }

 private:
  TListViewData* view_;
  QStringList captions_;
  int count_ = 0;
};

TListViewData::TListViewData(QWidget* parent) : QTreeView(parent), model_(new LvdModel(this)) {
  // Read-only report view; rows have one height, so only painted rows are ever asked for.
  setModel(model_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setAllColumnsShowFocus(false);
  setTextElideMode(Qt::ElideRight);
  header()->setStretchLastSection(false);
  header()->setSectionsClickable(true);
  header()->setSectionsMovable(false);
  connect(header(), &QHeaderView::sectionClicked, this, &TListViewData::columnClicked);
  connect(header(), &QHeaderView::sectionResized, this, [this] {
    if (layingOut_) return;
    userSized_ = true;
    emit columnsResized();
  });
  connectSelection();
}

TListViewData::~TListViewData() = default;

void TListViewData::connectSelection() {
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current, const QModelIndex& previous) {
            if (!OnLVDChange) return;
            if (previous.isValid() && previous.row() != current.row())
              OnLVDChange(this, {previous.row(), false, lvdItemSelected(previous.row())});
            if (current.isValid())
              OnLVDChange(this, {current.row(), true, lvdItemSelected(current.row())});
          });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected, const QItemSelection& deselected) {
            if (!OnLVDChange) return;
            const int focused = lvdIndexFocused();
            auto report = [&](const QItemSelection& range, bool on) {
              int last = -1;
              for (const QModelIndex& index : range.indexes()) {
                if (index.row() == last) continue;
                last = index.row();
                OnLVDChange(this, {last, last == focused, on});
              }
            };
            report(deselected, false);
            report(selected, true);
          });
}

void TListViewData::addColumn(const QString& caption, int width, bool fixed) {
  model_->addCaption(caption);
  const int column = model_->columnCount(QModelIndex()) - 1;
  layingOut_ = true;
  header()->setSectionResizeMode(column, fixed ? QHeaderView::Fixed : QHeaderView::Interactive);
  if (width < 0)
    autoColumns_.push_back(column);
  else
    header()->resizeSection(column, width);
  layingOut_ = false;
  if (!userSized_) layoutAutoColumns();
}

void TListViewData::layoutAutoColumns() {
  if (autoColumns_.isEmpty() || layingOut_) return;
  int free = viewport()->width();
  for (int column = 0; column < header()->count(); ++column)
    if (!autoColumns_.contains(column)) free -= header()->sectionSize(column);
  const int share = std::max(40, free / static_cast<int>(autoColumns_.size()));
  layingOut_ = true;
  for (const int column : autoColumns_) header()->resizeSection(column, share);
  layingOut_ = false;
}

QList<int> TListViewData::lvdColumnWidths() const {
  QList<int> widths;
  for (int column = 0; column < header()->count(); ++column)
    widths.push_back(header()->sectionSize(column));
  return widths;
}

bool TListViewData::lvdSetColumnWidths(const QList<int>& widths) {
  if (widths.size() != header()->count()) return false;
  layingOut_ = true;
  for (int column = 0; column < widths.size(); ++column)
    header()->resizeSection(column, widths[column]);
  layingOut_ = false;
  userSized_ = true;
  return true;
}

void TListViewData::updateGeometries() {
  QTreeView::updateGeometries();
  // The viewport's width changed (the view was resized, a scroll bar came or went).
  if (!userSized_ && !layingOut_) layoutAutoColumns();
}

void TListViewData::lvdSetColumnShown(int column, bool on) {
  layingOut_ = true;
  setColumnHidden(column, !on);
  layingOut_ = false;
  if (!userSized_) layoutAutoColumns();
}

int TListViewData::columnCountLv() const {
  return model_->columnCount(QModelIndex());
}

void TListViewData::setImageList(const QList<QIcon>& images) {
  images_ = images;
  viewport()->update();
}

QString TListViewData::cellText(int row, int column) {
  LVDisplayItem item;
  item.mask = LvifText;
  item.item = row;
  item.subItem = column;
  if (OnLVFastDisplay)
    OnLVFastDisplay(this, item.mask, item.text, LvdTextSize, column, row, &item.image);
  if (OnLVFastDisplayShort) OnLVFastDisplayShort(this, item);
  return item.text;
}

namespace {
class ElideDelegate final : public QStyledItemDelegate {
 public:
  ElideDelegate(Qt::TextElideMode mode, QObject* parent)
      : QStyledItemDelegate(parent), mode_(mode) {}

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->textElideMode = mode_;
  }

 private:
  Qt::TextElideMode mode_;
};
}  // namespace

void TListViewData::setColumnElideMode(int column, Qt::TextElideMode mode) {
  QAbstractItemDelegate* old = itemDelegateForColumn(column);
  setItemDelegateForColumn(column, new ElideDelegate(mode, this));
  delete old;
}

QList<int> TListViewData::lvdSelectedRows() const {
  QList<int> rows;
  // By ranges: selecting every row of a long list is one range, not one index per cell.
  for (const QItemSelectionRange& range : selectionModel()->selection())
    for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void TListViewData::lvdSetMultiSelect(bool on) {
  setSelectionMode(on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

QString TListViewData::cellToolTip(int row, int column) {
  return OnLVToolTip ? OnLVToolTip(this, row, column) : QString();
}

int TListViewData::rowImage(int row) {
  LVDisplayItem item;
  item.mask = LvifImage;
  item.item = row;
  item.subItem = 0;
  if (OnLVFastDisplay)
    OnLVFastDisplay(this, item.mask, item.text, LvdTextSize, 0, row, &item.image);
  if (OnLVFastDisplayShort) OnLVFastDisplayShort(this, item);
  return item.image;
}

bool TListViewData::validRow(int i) const {
  return i >= 0 && i < model_->count();
}

void TListViewData::lvdSetCount(int n) {
  model_->setCount(n);
}

int TListViewData::lvdGetCount() const {
  return model_->count();
}

void TListViewData::lvdClearAll() {
  model_->resetTo(0);
  viewport()->update();
}

void TListViewData::lvdRedraw(int n) {
  if (n <= 0) return;
  // Rows outside the viewport are not painted, so repainting the viewport covers 0 .. n-1.
  viewport()->repaint();
}

void TListViewData::lvdUpdate(int i) {
  if (!validRow(i)) return;
  // Repaints exactly this row's strip; the cells are asked for again when painted.
  const QRect first = visualRect(model_->index(i, 0));
  if (!first.isValid()) return;
  const QRect strip(0, first.top(), viewport()->width(), first.height());
  if (strip.intersects(viewport()->rect())) viewport()->update(strip);
}

void TListViewData::lvdRemove(int i) {
  if (validRow(i)) model_->removeOne(i);
}

bool TListViewData::lvdItemSelected(int i) const {
  return validRow(i) && selectionModel()->rowIntersectsSelection(i, QModelIndex());
}

void TListViewData::lvdSetSelected(int i, bool on) {
  if (!validRow(i)) return;
  selectionModel()->select(model_->index(i, 0),
                           (on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                               QItemSelectionModel::Rows);
}

int TListViewData::lvdIndexFocused() const {
  const QModelIndex current = selectionModel()->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void TListViewData::lvdSetIndexFocused(int i) {
  if (!validRow(i)) return;
  const int column = std::max(0, selectionModel()->currentIndex().column());
  selectionModel()->setCurrentIndex(model_->index(i, column), QItemSelectionModel::NoUpdate);
}

void TListViewData::lvdSetFullRow() {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAllColumnsShowFocus(true);
}

void TListViewData::lvdGoto(int i) {
  if (!validRow(i)) return;
  // Going to a row selects that row alone, also where several may be selected.
  if (selectionMode() == QAbstractItemView::ExtendedSelection) selectionModel()->clearSelection();
  const int focused = lvdIndexFocused();
  if (focused >= 0) lvdSetSelected(focused, false);
  lvdSetIndexFocused(i);
  lvdSetSelected(i, true);
  scrollTo(model_->index(i, 0), QAbstractItemView::EnsureVisible);
}

void TListViewData::lvdSetRowDragging(bool on) {
  model_->dragging = on;
  setDragEnabled(on);
  setAcceptDrops(on);
  viewport()->setAcceptDrops(on);
  setDropIndicatorShown(on);
  setDragDropMode(on ? QAbstractItemView::DragDrop : QAbstractItemView::NoDragDrop);
  setDefaultDropAction(Qt::MoveAction);
}

QMimeData* TListViewData::lvdRowsMimeData(const QList<int>& rows) const {
  QByteArray text = QByteArray::number(QCoreApplication::applicationPid()) + ' ' +
                    QByteArray::number(reinterpret_cast<quintptr>(this));
  for (const int row : rows) text += ' ' + QByteArray::number(row);
  auto* data = new QMimeData;
  data->setData(QString::fromLatin1(RowsMimeType), text);
  return data;
}

QList<int> TListViewData::droppedRows(const QMimeData* data) const {
  if (!model_->dragging || !data) return {};
  const QList<QByteArray> words = data->data(QString::fromLatin1(RowsMimeType)).split(' ');
  if (words.size() < 3 || words[0] != QByteArray::number(QCoreApplication::applicationPid()) ||
      words[1] != QByteArray::number(reinterpret_cast<quintptr>(this)))
    return {};
  QList<int> rows;
  for (qsizetype i = 2; i < words.size(); ++i) {
    bool ok = false;
    const int row = words[i].toInt(&ok);
    if (!ok || !validRow(row)) return {};
    rows.push_back(row);
  }
  return rows;
}

void TListViewData::dragEnterEvent(QDragEnterEvent* event) {
  // Files and anything else go on to the window around the list.
  if (droppedRows(event->mimeData()).isEmpty()) return event->ignore();
  QTreeView::dragEnterEvent(event);
  event->acceptProposedAction();
}

void TListViewData::dragMoveEvent(QDragMoveEvent* event) {
  if (droppedRows(event->mimeData()).isEmpty()) return event->ignore();
  QTreeView::dragMoveEvent(event);  // the indicator between the rows
  event->setDropAction(Qt::MoveAction);
  event->accept();
}

void TListViewData::dropEvent(QDropEvent* event) {
  const QList<int> rows = droppedRows(event->mimeData());
  if (rows.isEmpty()) return event->ignore();
  // Before the row under the point, or after it in its lower half; below the rows: the end.
  const QPoint at = event->position().toPoint();
  int before = lvdGetCount();
  const QModelIndex index = indexAt(at);
  if (index.isValid()) {
    before = index.row();
    if (at.y() >= visualRect(index).center().y()) ++before;
  }
  stopAutoScroll();
  setState(NoState);
  viewport()->update();
  event->setDropAction(Qt::MoveAction);
  event->accept();
  emit rowsDropped(rows, before);
}

void TListViewData::keyPressEvent(QKeyEvent* event) {
  emit keyDown(event->key(), event->modifiers());
  QTreeView::keyPressEvent(event);
}

void TListViewData::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  emit listDoubleClicked();
}

void TListViewData::keyboardSearch(const QString&) {}

}  // namespace vidmora
