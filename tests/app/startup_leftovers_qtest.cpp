// What a start may remove: a progress block that another app is making at that moment (it
// exists, still empty, before its app locks it) is not a leftover.
#include <QtTest>
#include <algorithm>

#include "platform/stale_files.h"
#include "support/temp_folder.h"

class StartupLeftoversTest : public QObject {
  Q_OBJECT

 private slots:
  void blockBeingMadeIsKept() {
    vidmora::test::TempFolder shm;  // stands in for /dev/shm
    vidmora::test::writeFile(shm / "vidmora-000000000001", "");
    vidmora::test::writeFile(shm / "vidmora-000000000002", std::string(64, '\0'));
    QCOMPARE(vidmora::removeStaleProgressBlocks(shm.path()), 1);
    QCOMPARE(shm.entries(), std::vector<std::string>{"vidmora-000000000001"});
  }
};

QTEST_GUILESS_MAIN(StartupLeftoversTest)
#include "startup_leftovers_qtest.moc"
