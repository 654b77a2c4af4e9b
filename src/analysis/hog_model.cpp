#include "analysis/hog_model.hpp"

// The bytes hog_model_writer wrote at build time, placed by the assembler.
asm(".pushsection .rodata\n"
    ".balign 16\n"
    ".globl tidewick_hog_model_begin\n"
    ".hidden tidewick_hog_model_begin\n"
    "tidewick_hog_model_begin:\n"
    ".incbin \"" TIDEWICK_HOG_MODEL_FILE "\"\n"
    ".globl tidewick_hog_model_end\n"
    ".hidden tidewick_hog_model_end\n"
    "tidewick_hog_model_end:\n"
    ".popsection\n");

extern "C" {
extern const char tidewick_hog_model_begin[] __attribute__((visibility("hidden")));
extern const char tidewick_hog_model_end[] __attribute__((visibility("hidden")));
}

namespace tw::analysis {

std::string_view SerialisedFrontalFaceDetector() {
  return {tidewick_hog_model_begin, std::size_t(tidewick_hog_model_end - tidewick_hog_model_begin)};
}

}  // namespace tw::analysis
