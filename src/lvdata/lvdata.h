// TListViewData: a list view for long lists whose rows live with the owner, not in the control.
// The control keeps only a row count plus focus and selection; whenever a cell is painted it asks
// the owner for that cell's text and the row's image. Nothing is cached, so changing a row costs
// one repaint request and a list of 30000 rows formats only the cells on screen.
#pragma once

#include <QIcon>
#include <QList>
#include <QMimeData>
#include <QPixmap>
#include <QStringList>
#include <QTreeView>
#include <functional>

namespace vidmora {

// Bits of a display request's mask.
constexpr int LvifText = 0x1;
constexpr int LvifImage = 0x2;
// Text size offered with a display request (the owner may write more; nothing is cut).
constexpr int LvdTextSize = 260;

// One display request, filled in place by the owner.
struct LVDisplayItem {
  int mask = 0;     // LvifText and/or LvifImage
  int item = 0;     // row
  int subItem = 0;  // column, 0 for the first
  QString text;     // the cell text, when the mask has LvifText
  int image = -1;   // the row image, when the mask has LvifImage
};

// A change of a row's focus or selection.
struct LVChange {
  int item = -1;
  bool focused = false;
  bool selected = false;
};

class LvdModel;

class TListViewData : public QTreeView {
  Q_OBJECT

 public:
  // Long form: mask, text to fill, offered text size, column, row, image to set.
  using FastDisplayEvent = std::function<void(TListViewData* sender, int nmask, QString& sztext,
                                              int maxtext, int xcol, int index, int* indeximage)>;
  using DChangeEvent = std::function<void(TListViewData* sender, const LVChange& change)>;
  using FastDisplayShortEvent = std::function<void(TListViewData* sender, LVDisplayItem& item)>;

  explicit TListViewData(QWidget* parent = nullptr);
  ~TListViewData() override;

  // Events; one that is not assigned is skipped. Both display forms may run for one request,
  // the long form first.
  FastDisplayEvent OnLVFastDisplay;
  DChangeEvent OnLVDChange;
  FastDisplayShortEvent OnLVFastDisplayShort;
  // A cell's tooltip; none when unassigned or empty.
  std::function<QString(TListViewData* sender, int row, int column)> OnLVToolTip;
  // A cell's picture for columns after the first (the first shows the row image); asked only
  // for the cells being painted.
  std::function<QPixmap(TListViewData* sender, int row, int column)> OnLVPicture;

  // Columns: a width below 0 makes the column share the free width ("auto-size"); fixed columns
  // keep their width.
  // The user may drag the edge of every column that is not fixed; once a column was dragged the
  // auto-size columns keep their widths.
  void addColumn(const QString& caption, int width, bool fixed = false);
  QList<int> lvdColumnWidths() const;
  // Widths chosen earlier (one per column; a list of another length is ignored): every column
  // keeps its width from now on. False when ignored.
  bool lvdSetColumnWidths(const QList<int>& widths);
  // A column was dragged (or widths were set): the widths are the user's.
  bool lvdColumnsUserSized() const { return userSized_; }
  int columnCountLv() const;
  // Hides or shows a column; the columns of free width share what is left. Not a user's sizing.
  void lvdSetColumnShown(int column, bool on);
  // The row images, by index.
  void setImageList(const QList<QIcon>& images);
  const QList<QIcon>& imageList() const { return images_; }

  // Row operations (0-based rows; a bad row is ignored).
  void lvdSetCount(int n);
  int lvdGetCount() const;
  void lvdClearAll();
  void lvdRedraw(int n);
  void lvdUpdate(int i);
  void lvdRemove(int i);
  bool lvdItemSelected(int i) const;
  // The selected rows in ascending order.
  QList<int> lvdSelectedRows() const;
  // Several rows may be selected (Shift/Ctrl with the mouse and keys, Ctrl+A).
  void lvdSetMultiSelect(bool on);
  // How the column's text is shortened when it does not fit (the default: at its end).
  void setColumnElideMode(int column, Qt::TextElideMode mode);
  int lvdIndexFocused() const;
  void lvdSetFullRow();
  void lvdGoto(int i);
  // The selected rows may be dragged to another place in the list; a drop there reports
  // rowsDropped and changes nothing itself (the owner moves its rows). Other drops (files) pass
  // on to the widgets around the list.
  void lvdSetRowDragging(bool on);
  // What a drag of these rows carries; a drop in this list alone takes it.
  QMimeData* lvdRowsMimeData(const QList<int>& rows) const;

  // Asks the owner for one cell (used by the model).
  QString cellText(int row, int column);
  QString cellToolTip(int row, int column);
  int rowImage(int row);

 signals:
  void columnClicked(int column);
  // Every key press, before the list's own handling.
  void keyDown(int key, Qt::KeyboardModifiers modifiers);
  // A double click anywhere in the list.
  void listDoubleClicked();
  // The user dragged a column edge.
  void columnsResized();
  // Rows dragged within the list were dropped before row `before` (the row count: at the end).
  void rowsDropped(const QList<int>& rows, int before);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void updateGeometries() override;

 public:
  // Owner-data lists have no incremental search: it would format every row.
  void keyboardSearch(const QString& search) override;

 private:
  void connectSelection();
  // The rows a drag of this list carries; empty for any other drag.
  QList<int> droppedRows(const QMimeData* data) const;
  bool validRow(int i) const;
  void lvdSetSelected(int i, bool on);
  void lvdSetIndexFocused(int i);

  // The auto-size columns share the width the others leave.
  void layoutAutoColumns();

  LvdModel* model_;
  QList<QIcon> images_;
  QList<int> autoColumns_;
  bool userSized_ = false;
  bool layingOut_ = false;  // the view itself is setting widths
};

}  // namespace vidmora
