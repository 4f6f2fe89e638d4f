#include "picture.h"

#include <algorithm>
#include <utility>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "settings/quality.h"

namespace vidmora::encoder {

namespace {

// Encoders that keep HDR as it is: 10-bit with its colour tags.
bool keepsHdr(const std::string& encoder) {
  return encoder == "libx265" || encoder == "libvpx-vp9" || encoder == "libsvtav1";
}

std::string colourName(const char* name, const char* fallback) {
  return name != nullptr ? name : fallback;
}

// PQ or HLG to SDR BT.709: to linear light, BT.709 primaries, a filmic curve, then BT.709
// transfer and matrix in limited range, 8-bit 4:2:0.
std::string toneMapFilter(const PictureInfo& pic) {
  const char* transfer = pic.transfer == AVCOL_TRC_ARIB_STD_B67 ? "arib-std-b67" : "smpte2084";
  return std::string("zscale=tin=") + transfer +
         ":pin=2020:min=2020_ncl:t=linear:npl=100,format=gbrpf32le,zscale=p=709,"
         "tonemap=tonemap=hable:desat=0,zscale=t=709:m=709:r=tv,format=yuv420p";
}

}  // namespace

PicturePlan planPicture(const LegacyOptions& o, const SourceInfo& source,
                        const std::string& encoder, bool modern) {
  PicturePlan plan;
  const PictureInfo& pic = source.picture;
  auto& f = plan.filters;
  const bool x26x = encoder == "libx264" || encoder == "libx265";

  if (o.cropped())
    f.push_back("crop=iw-" + std::to_string(o.cropLeft + o.cropRight) + ":ih-" +
                std::to_string(o.cropTop + o.cropBottom) + ":" + std::to_string(o.cropLeft) + ":" +
                std::to_string(o.cropTop));
  if (modern && pic.interlaced) {
    f.push_back("bwdif=mode=send_frame:parity=auto:deint=interlaced");
    plan.notes.push_back("the source is interlaced: deinterlaced with bwdif");
  }

  // ffmpeg turns a rotated picture upright before these filters: sizes are the displayed ones,
  // less what the crop takes.
  const int width = o.cropped() ? std::max(2, source.displayWidth() - o.cropLeft - o.cropRight)
                                : source.displayWidth();
  const int height = o.cropped() ? std::max(2, source.displayHeight() - o.cropTop - o.cropBottom)
                                 : source.displayHeight();
  plan.burnAt = f.size();
  const bool turned = pic.rotation % 180 == 90;
  const int sarNum = turned ? source.sarDen : source.sarNum;
  const int sarDen = turned ? source.sarNum : source.sarDen;
  if (pic.rotation != 0)
    plan.notes.push_back("the picture is shown turned by " + std::to_string(pic.rotation) +
                         " degrees: written upright, " + std::to_string(width) + "x" +
                         std::to_string(height));
  const FrameDims fit =
      o.fitHeight != 0 ? fitFrame(width, height, o.fitHeight, sarNum, sarDen) : FrameDims{};
  plan.width = width;
  plan.height = height;
  if (o.width > 0) {
    // The classic lines' -s: ffmpeg scales at the end of the chain.
    plan.width = o.width;
    plan.height = o.height;
  } else if (fit.width > 0) {
    if (fit.width != width || fit.height != height || sarNum != sarDen)
      f.push_back("scale=" + std::to_string(fit.width) + ":" + std::to_string(fit.height) +
                  ",setsar=1");
    plan.width = fit.width;
    plan.height = fit.height;
  } else if (x26x && (width % 2 != 0 || height % 2 != 0)) {
    // These encoders refuse odd sizes: keep the source's size, less a line or a column.
    f.push_back("scale=trunc(iw/2)*2:trunc(ih/2)*2");
    plan.width = width / 2 * 2;
    plan.height = height / 2 * 2;
  }

  const bool modernEncoder = x26x || encoder == "libvpx-vp9" || encoder == "libsvtav1";
  if (pic.hdr() && modern && keepsHdr(encoder)) {
    plan.pixelFormat = "yuv420p10le";
    plan.colour = {
        "-color_primaries",
        colourName(av_color_primaries_name(static_cast<AVColorPrimaries>(
                       pic.primaries == AVCOL_PRI_UNSPECIFIED ? AVCOL_PRI_BT2020 : pic.primaries)),
                   "bt2020"),
        "-color_trc",
        colourName(av_color_transfer_name(static_cast<AVColorTransferCharacteristic>(pic.transfer)),
                   "smpte2084"),
        "-colorspace",
        colourName(av_color_space_name(static_cast<AVColorSpace>(
                       pic.matrix == AVCOL_SPC_UNSPECIFIED ? AVCOL_SPC_BT2020_NCL : pic.matrix)),
                   "bt2020nc")};
    plan.notes.push_back("HDR kept: 10-bit with the source's colour tags");
  } else if (pic.hdr()) {
    f.push_back(toneMapFilter(pic));
    if (modern) {
      plan.pixelFormat = "yuv420p";
      plan.colour = {"-color_primaries", "bt709", "-color_trc", "bt709", "-colorspace", "bt709"};
    }
    plan.notes.push_back("HDR tone-mapped to SDR BT.709");
  } else if (modern && modernEncoder) {
    plan.pixelFormat = "yuv420p";
  } else if (encoder == "libx264" && (pic.bitDepth > 8 || !pic.chroma420)) {
    // High 10 and 4:2:2/4:4:4 H.264 play almost nowhere.
    plan.pixelFormat = "yuv420p";
  }
  if (!plan.pixelFormat.empty() && (pic.bitDepth > 8 || !pic.chroma420) &&
      plan.pixelFormat == "yuv420p")
    plan.notes.push_back("the source's " + pic.pixelFormat + " picture becomes 8-bit 4:2:0");
  return plan;
}

}  // namespace vidmora::encoder
