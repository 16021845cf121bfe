// A stand-in for the programs the product starts (the VMware helper QVCENTER
// among them). It appends the arguments it was given, as its C runtime split
// them, to the file <argv[0]>.args and exits 0, so that tests can see exactly
// what a started program receives.
//
// Record format, per run: "argc N\n", then per argument "<length>:<bytes>\n".
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc < 1 || !argv[0]) return 1;
    std::string record = std::string(argv[0]) + ".args";
    std::FILE* f = std::fopen(record.c_str(), "ab");
    if (!f) return 1;
    std::fprintf(f, "argc %d\n", argc);
    for (int i = 0; i < argc; ++i) {
        std::fprintf(f, "%zu:", std::strlen(argv[i]));
        std::fwrite(argv[i], 1, std::strlen(argv[i]), f);
        std::fputc('\n', f);
    }
    std::fclose(f);
    return 0;
}
