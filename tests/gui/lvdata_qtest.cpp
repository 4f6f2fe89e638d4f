// The virtual list view: it asks only for painted cells, keeps focus and selection by row, and
// reports header clicks.
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <set>

#include "lvdata/lvdata.h"

using vidmora::LVDisplayItem;
using vidmora::TListViewData;

class LvdataTest : public QObject {
  Q_OBJECT

  struct Owner {
    std::vector<std::pair<int, int>> asked;  // (row, column) of text requests
    void attach(TListViewData& lv) {
      lv.OnLVFastDisplayShort = [this](TListViewData*, LVDisplayItem& item) {
        if (item.mask & vidmora::LvifText) {
          asked.emplace_back(item.item, item.subItem);
          if (item.subItem < 2) item.text = QString("r%1c%2").arg(item.item).arg(item.subItem);
        }
        if (item.mask & vidmora::LvifImage) item.image = item.item % 2;
      };
    }
  };

  static void makeList(TListViewData& lv) {
    lv.addColumn("A", -1);
    lv.addColumn("B", 60);
    lv.addColumn("C", 80, true);
    lv.setImageList({QIcon(), QIcon()});
    lv.lvdSetFullRow();
  }

 private slots:
  void asksOnlyForPaintedCells() {
    TListViewData lv;
    makeList(lv);
    Owner owner;
    owner.attach(lv);
    lv.resize(400, 300);
    lv.lvdSetCount(30000);
    lv.show();
    QVERIFY(QTest::qWaitForWindowExposed(&lv));
    owner.asked.clear();
    lv.lvdRedraw(30000);
    QVERIFY(!owner.asked.empty());
    int maxRow = 0;
    for (auto [row, column] : owner.asked) maxRow = std::max(maxRow, row);
    QVERIFY2(maxRow < 40, "only the rows on screen are asked for");

    // One row's update asks for that row alone.
    owner.asked.clear();
    lv.lvdUpdate(3);
    QTRY_VERIFY(!owner.asked.empty());
    for (auto [row, column] : owner.asked) QCOMPARE(row, 3);
    // Rows off screen cost nothing: an update of one comes with an update of row 5, and once
    // row 5 was painted the other was never asked for.
    owner.asked.clear();
    lv.lvdUpdate(25000);
    lv.lvdUpdate(5);
    QTRY_VERIFY(!owner.asked.empty());
    for (auto [row, column] : owner.asked) QCOMPARE(row, 5);

    // Cells: the text the owner gives, empty where it gives none; the long form runs first.
    auto* model = lv.model();
    QCOMPARE(model->data(model->index(7, 1)).toString(), QString("r7c1"));
    QCOMPARE(model->data(model->index(7, 2)).toString(), QString());
    QString order;
    lv.OnLVFastDisplay = [&](TListViewData*, int, QString& text, int, int, int, int*) {
      order += 'L';
      text = "long";
    };
    lv.OnLVFastDisplayShort = [&](TListViewData*, LVDisplayItem& item) {
      order += 'S';
      QCOMPARE(item.text, QString("long"));
    };
    QCOMPARE(model->data(model->index(1, 0)).toString(), QString("long"));
    QCOMPARE(order, QString("LS"));
  }

  void focusSelectionAndRows() {
    TListViewData lv;
    makeList(lv);
    lv.lvdSetCount(10);
    QCOMPARE(lv.lvdIndexFocused(), -1);
    lv.lvdGoto(3);
    QCOMPARE(lv.lvdIndexFocused(), 3);
    QVERIFY(lv.lvdItemSelected(3));
    lv.lvdGoto(7);
    QCOMPARE(lv.lvdIndexFocused(), 7);
    for (int row = 0; row < 10; ++row) QCOMPARE(lv.lvdItemSelected(row), row == 7);

    // Removing the focused last row; bad rows are ignored.
    lv.lvdGoto(9);
    lv.lvdRemove(9);
    lv.lvdRemove(42);
    lv.lvdRemove(-1);
    QCOMPARE(lv.lvdGetCount(), 9);
    lv.lvdClearAll();
    QCOMPARE(lv.lvdGetCount(), 0);
    lv.lvdGoto(0);  // nothing to go to
    QCOMPARE(lv.lvdIndexFocused(), -1);
  }

  void headerClicksReachTheOwner() {
    TListViewData lv;
    makeList(lv);
    lv.lvdSetCount(3);
    lv.resize(400, 200);
    lv.show();
    QVERIFY(QTest::qWaitForWindowExposed(&lv));
    QSignalSpy clicks(&lv, &TListViewData::columnClicked);
    QHeaderView* header = lv.header();
    const int x = header->sectionViewportPosition(1) + header->sectionSize(1) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(clicks[0][0].toInt(), 1);
  }
};

QTEST_MAIN(LvdataTest)
#include "lvdata_qtest.moc"
