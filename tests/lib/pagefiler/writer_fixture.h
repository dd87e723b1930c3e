#ifndef WRITER_FIXTURE_H
#define WRITER_FIXTURE_H

// Document writers driven as the interpreter drives them: MakeDocWriter, pages of one raw 1-bit
// layer, objects the test keeps until it ends.

#include <string>
#include <vector>

#include "dio_fixture.h"
#include "ref_bitmap.h"

namespace monotest {

class WriterTest : public DocTest {
 protected:
  void TearDown() override {
    for (elf_object* o : held) elfRefDown(o);
    DocTest::TearDown();
  }

  elf_object* keep(elf_object* o) {
    elfRefUp(o);
    held.push_back(o);
    return o;
  }

  // A page image of one raw 1-bit layer (1 black) at res dots per inch.
  elf_object* bilevel_image(const RefBitmap& b, double res = 300) {
    auto* rows = static_cast<uint8_t*>(elfMalloc(b.bits.size()));
    std::copy(b.bits.begin(), b.bits.end(), rows);
    elf_object* image = keep(new_QELIMAGE(state, nullptr, nullptr));
    qelImage(image)->width = b.width;
    qelImage(image)->height = b.height;
    qelImage(image)->xres = qelImage(image)->yres = res;
    EXPECT_EQ(QELAppendLayer(image, "scan",
                             QELNewBilevelLayer(state, b.width, b.height, static_cast<int32_t>(b.stride), rows,
                                                b.bits.size(), res, res)),
              QEL_STATUS_OK);
    return image;
  }

  // A writer of the format on path; null with a failure recorded.
  elf_object* make_writer(const std::string& path, const char* format, bool test, const char* subtype = nullptr) {
    elf_object* args = lstBuildArgs(state, "filename:s", path.c_str(), 0, "format:s", format, 0, "testfile:b",
                                    test ? 1 : 0, 0, LST_END);
    if (subtype) lstAppendArgs(args, "subtype:s", subtype, 0, LST_END);
    const int status = call_context(MakeDocWriter, args);
    elfDiscard(args);
    elf_object* w = nullptr;
    if (status != QEL_STATUS_OK || !lstScanArgs(result, "docwt:DOCUMENTWRITER", LST_REQUIRED, &w, LST_END)) {
      ADD_FAILURE() << "MakeDocWriter: " << status_message() << engine_messages;
      return nullptr;
    }
    return keep(w);
  }

  std::vector<elf_object*> held;
};

}  // namespace monotest

#endif
