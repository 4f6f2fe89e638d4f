#include "app/batch_estimate.h"

#include <sys/statvfs.h>

#include <QObject>

#include "engine/job_shape.h"
#include "engine/output_estimate.h"
#include "engine/sample_estimate.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "settings/profiles.h"

namespace vidmora {

uint64_t BatchEstimate::freeBytesAt(const std::string& folder) {
  struct statvfs info {};
  if (folder.empty() || ::statvfs(folder.c_str(), &info) != 0) return 0;
  return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

BatchEstimate::BatchEstimate(Engine& engine, MainThreadQueue& queue, std::string encoderPath,
                             std::function<void()> changed, SampleLimits limits)
    : engine_(engine),
      encoderPath_(std::move(encoderPath)),
      samples_(
          queue, [changed = std::move(changed)](const std::string&) { changed(); },
          std::move(limits)) {}

uint64_t BatchEstimate::expectedOutputBytes(int row) const {
  if (row < 0 || row >= engine_.list().entries().count()) return 0;
  const std::shared_ptr<const ConversionSnapshot> settings = engine_.list().rowSettings(row);
  return settings ? expectedOutputBytes(row, *settings) : 0;
}

SampleJob BatchEstimate::jobFor(int row, const ConversionSnapshot& values) const {
  const VideoEntry& entry = engine_.list().entries().at(row);
  return sampleJobFor(encoderPath_, entry.sourcePath, entry.details, double(entry.durationSeconds),
                      values, engine_.list().rowShape(row), shapeRulesOf(engine_.settings()));
}

SampleEstimates::Figure BatchEstimate::sampled(int row, const ConversionSnapshot& values) const {
  // Most rows were never sampled: no job is made for them.
  if (!samples_.knows(engine_.list().entries().at(row).sourcePath)) return {};
  return samples_.figure(jobFor(row, values));
}

uint64_t BatchEstimate::expectedOutputBytes(int row, const ConversionSnapshot& s) const {
  if (engine_.list().entries().at(row).stateValue() != Ready) return 0;
  return expectedOutputBytes(row, s, sampled(row, s));
}

uint64_t BatchEstimate::expectedOutputBytes(int row, const ConversionSnapshot& s,
                                            const SampleEstimates::Figure& figure) const {
  if (figure.state == SampleEstimates::State::Done) return figure.bytes;
  const VideoEntry& entry = engine_.list().entries().at(row);
  const std::shared_ptr<const RowShape> shape = engine_.list().rowShape(row);
  return estimateOutputBytes(
      estimateInputFor(entry.details.get(), double(entry.durationSeconds), s, shape.get()));
}

QString BatchEstimate::rowText(int row) const {
  if (row < 0 || row >= engine_.list().entries().count() ||
      engine_.list().entries().at(row).stateValue() != Ready)
    return {};
  const std::shared_ptr<const ConversionSnapshot> values = engine_.list().rowSettings(row);
  if (!values) return {};
  const SampleEstimates::Figure figure = sampled(row, *values);
  using State = SampleEstimates::State;
  if (figure.state == State::Waiting || figure.state == State::Estimating)
    return QObject::tr("Estimating…");
  const uint64_t bytes = expectedOutputBytes(row, *values, figure);
  if (bytes == 0) return {};
  const QString about = QObject::tr("about %1").arg(QString::fromStdString(formatSize(bytes)));
  if (figure.state == State::Done && figure.sampled)
    return QObject::tr("%1 (from a sample)").arg(about);
  if (figure.state == State::Failed)
    return QObject::tr("%1 (no sample: %2)").arg(about, QString::fromStdString(figure.reason));
  return about;
}

int BatchEstimate::sampleRows(const std::vector<int>& rows) {
  int asked = 0;
  for (const int row : rows) {
    if (row < 0 || row >= engine_.list().entries().count() ||
        engine_.list().entries().at(row).stateValue() != Ready)
      continue;
    const std::shared_ptr<const ConversionSnapshot> values = engine_.list().rowSettings(row);
    if (!values) continue;
    SampleJob job = jobFor(row, *values);
    if (!job.needsSample()) continue;  // its size is known without one
    samples_.request(std::move(job));
    ++asked;
  }
  return asked;
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
