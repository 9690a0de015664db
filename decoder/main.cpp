#include "common/platform.h"
#include "decoder/driver.h"

int main(int argc, char** argv) {
    ProgramArguments arguments(argc, argv);
    return decoder_run(arguments.count(), arguments.values());
}
