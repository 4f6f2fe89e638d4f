// Publishing the encoder's temporary output under its final name.
#include "output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_folder.h"

namespace vidmora::encoder {
namespace {

TEST(TempOutput, APublishedOutputGetsTheModeOfANewFile) {
  // A media server or another user reads the results as they read any new file of the user's.
  for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}}) {
    test::TempFolder dir;
    const mode_t old = ::umask(mask);
    TempOutput temp(dir / "clip.mp4");
    ASSERT_TRUE(temp.isOpen()) << temp.error();
    test::writeFile(temp.writerPath(), "data");
    std::string error;
    const TempOutput::Publish result = temp.publish(&error);
    ::umask(old);
    ASSERT_EQ(result, TempOutput::Publish::Done) << error;
    struct stat st {};
    ASSERT_EQ(::stat((dir / "clip.mp4").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask) << std::oct << mask;
  }
}

}  // namespace
}  // namespace vidmora::encoder
