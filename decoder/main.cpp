#include "decoder/driver.h"
int main(int argc, char** argv) {
    return decoder_run(argc, argv);
}
