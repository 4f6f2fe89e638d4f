#include "app/batch_estimate.h"

#include <sys/statvfs.h>

#include <QObject>

#include "engine/job_shape.h"
#include "engine/output_estimate.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "settings/profiles.h"

namespace vidmora {

uint64_t BatchEstimate::freeBytesAt(const std::string& folder) {
  struct statvfs info {};
  if (folder.empty() || ::statvfs(folder.c_str(), &info) != 0) return 0;
  return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

uint64_t BatchEstimate::expectedOutputBytes(int row) const {
  if (row < 0 || row >= engine_.list().entries().count()) return 0;
  const std::shared_ptr<const ConversionSnapshot> settings = engine_.list().rowSettings(row);
  return settings ? expectedOutputBytes(row, *settings) : 0;
}

uint64_t BatchEstimate::expectedOutputBytes(int row, const ConversionSnapshot& s) const {
  const VideoEntry& entry = engine_.list().entries().at(row);
  if (entry.stateValue() != Ready) return 0;
  const std::shared_ptr<const RowShape> shape = engine_.list().rowShape(row);
  return estimateOutputBytes(
      estimateInputFor(entry.details.get(), double(entry.durationSeconds), s, shape.get()));
}

BatchEstimate::ReadyRows BatchEstimate::readyRows() const {
  ReadyRows estimate;
  // The batch's values are taken once; rows with their own use theirs.
  ConversionSnapshot batchValues;
  takeSnapshot(batchValues, engine_.settings());
  const int count = engine_.list().entries().count();
  for (int row = 0; row < count; ++row) {
    const VideoEntry& entry = engine_.list().entries().at(row);
    if (entry.stateValue() != Ready) continue;
    ++estimate.ready;
    const std::shared_ptr<const ConversionSnapshot> own = engine_.list().ownSettings(row);
    if (const uint64_t bytes = expectedOutputBytes(row, own ? *own : batchValues)) {
      estimate.total += bytes;
      ++estimate.known;
    }
  }
  return estimate;
}

QString BatchEstimate::text() const {
  const auto [total, known, ready] = readyRows();
  if (ready == 0 || known == 0) return {};
  QString text = QObject::tr("Expected: about %1").arg(QString::fromStdString(formatSize(total)));
  if (known < ready) text += QObject::tr(" for %1 of %2 videos").arg(known).arg(ready);
  const std::string folder = engine_.settings().DestDir;
  if (const uint64_t free = freeBytesAt(pathExists(folder) ? folder : folderOf(folder)))
    text +=
        QObject::tr("; %1 free at the destination").arg(QString::fromStdString(formatSize(free)));
  return text;
}

}  // namespace vidmora
