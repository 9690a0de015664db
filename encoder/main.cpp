#include "common/platform.h"
#include "encoder/driver.h"

int main(int argc, char** argv) {
    ProgramArguments arguments(argc, argv);
    return encoder_run(arguments.count(), arguments.values());
}
