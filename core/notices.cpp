#include "notices.hpp"

const char* const maker_address = DMXKIT_HOMEPAGE;
const char* const protocol_notice = "Art-Net\u2122 Designed by and Copyright Artistic Licence Holdings Ltd\n"
                                    "Protocol documentation: https://art-net.org.uk\n";

void print_banner(const char* program, const char* purpose)
{
    std::fprintf(stderr, "%s %s - %s\n\n", program, DMXKIT_VERSION, purpose);
}

void print_version(const char* program)
{
    std::printf("%s %s\nLicense: MIT\n", program, DMXKIT_VERSION);
}

void print_maker_line(std::FILE* stream)
{
    std::fprintf(stream, "%s\n", maker_address);
}
