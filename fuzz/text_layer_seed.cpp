// Writes the seed corpus of the text-layer target into the folder given: pages of runs in every
// face and character set, lines that coalesce, runs that collide, and the XPS renderer's form.

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const char* seeds[] = {
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Page>\n"
      "<Glyphs x0=\"100\" xw=\"50\" yb=\"500\" yh=\"40\" famStyle=\"0\" str=\"Hello\"/>\n"
      "<Glyphs x0=\"162\" xw=\"50\" yb=\"500\" yh=\"40\" famStyle=\"0\" str=\"world\"/>\n"
      "<Glyphs x0=\"100\" xw=\"300\" yb=\"600\" yh=\"40\" famStyle=\"7\" str=\"Caf\xC3\xA9 \xC5\x81\xC3\xB3\x64\xC5\xBA\"/>\n"
      "</Page>\n",
      "<Page xw=\"816\" yh=\"1056\"><Glyphs x0=\"96.5\" xw=\"40.25\" yb=\"120.75\" yh=\"12\" famStyle=\"9\" "
      "isoCSet=\"2\" str=\"{x}\"/><Note/></Page>",
      "<P><Glyphs x0=\"0\" xw=\"200\" yb=\"40\" yh=\"40\" famStyle=\"4\" str=\"ABCD\"/>"
      "<Glyphs x0=\"40\" xw=\"200\" yb=\"40\" yh=\"40\" famStyle=\"4\" str=\"WXYZ\"/>"
      "<Glyphs x0=\"-5\" xw=\"0\" yb=\"0\" yh=\"0\" famStyle=\"11\" str=\"\"/></P>",
  };
  int status = 0;
  for (size_t i = 0; i < sizeof seeds / sizeof seeds[0]; ++i) {
    const std::string path = std::string(argv[1]) + "/seed" + std::to_string(i) + ".xml";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fputs(seeds[i], f) < 0 || std::fclose(f) != 0) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      status = 1;
    }
  }
  return status;
}
