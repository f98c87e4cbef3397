// kestrix-idl: prints the IDL of the type library Quantora, written from the
// type-library table, for widl to compile into Kestrix.dll.
//
//   kestrix-idl [OUT.idl]
#include <fstream>
#include <iostream>

#include "automation/IdlWriter.h"

int main(int argc, char** argv) {
    if (argc > 2) {
        std::cerr << "usage: kestrix-idl [OUT.idl]\n";
        return 2;
    }
    if (argc == 1) {
        kestrix::WriteIdl(std::cout);
        return std::cout ? 0 : 1;
    }
    std::ofstream out(argv[1], std::ios::binary);
    if (out) kestrix::WriteIdl(out);
    out.close();
    if (!out) {
        std::cerr << "kestrix-idl: " << argv[1] << ": cannot be written\n";
        return 1;
    }
    return 0;
}
