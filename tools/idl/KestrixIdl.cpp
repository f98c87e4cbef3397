// kestrix-idl: the type library Quantora for Kestrix.dll, from the
// type-library table.
//
//   kestrix-idl [OUT.idl]                       prints the IDL, for widl to compile
//   kestrix-idl --document-enums IN.tlb OUT.tlb adds the enumeration members'
//                                               help strings widl cannot compile
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "EnumHelpStrings.h"
#include "automation/IdlWriter.h"

namespace {

int WriteIdlFile(const char* path) {
    std::ofstream out(path, std::ios::binary);
    if (out) kestrix::WriteIdl(out);
    out.close();
    if (!out) {
        std::cerr << "kestrix-idl: " << path << ": cannot be written\n";
        return 1;
    }
    return 0;
}

int DocumentEnums(const char* inPath, const char* outPath) {
    std::ifstream in(inPath, std::ios::binary);
    std::vector<std::uint8_t> library((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        std::cerr << "kestrix-idl: " << inPath << ": cannot be read\n";
        return 1;
    }
    const std::string failure = kestrix::AddEnumMemberHelpStrings(library, kestrix::Enumerations());
    if (!failure.empty()) {
        std::cerr << "kestrix-idl: " << inPath << ": " << failure << "\n";
        return 1;
    }
    std::ofstream out(outPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(library.data()), static_cast<std::streamsize>(library.size()));
    out.close();
    if (!out) {
        std::cerr << "kestrix-idl: " << outPath << ": cannot be written\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        kestrix::WriteIdl(std::cout);
        return std::cout ? 0 : 1;
    }
    if (argc == 2 && argv[1][0] != '-') return WriteIdlFile(argv[1]);
    if (argc == 4 && std::string(argv[1]) == "--document-enums") return DocumentEnums(argv[2], argv[3]);
    std::cerr << "usage: kestrix-idl [OUT.idl]\n"
                 "       kestrix-idl --document-enums IN.tlb OUT.tlb\n";
    return 2;
}
