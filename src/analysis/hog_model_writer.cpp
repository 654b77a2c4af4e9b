// Build tool: writes dlib's frontal face detector in its plain serialised form to the file named
// by its argument, for hog_model.cpp to link into the program.
#include <dlib/image_processing/frontal_face_detector.h>

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: hog_model_writer OUTPUT\n";
    return 2;
  }
  const std::string serialised = dlib::get_serialized_frontal_faces();
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(serialised.data(), std::streamsize(serialised.size()));
  out.close();
  if (!out) {
    std::cerr << "hog_model_writer: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
