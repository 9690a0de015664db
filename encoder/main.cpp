#include "encoder/driver.h"
int main(int argc, char** argv) {
    return encoder_run(argc, argv);
}
