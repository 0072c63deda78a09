#include "app/read/TalvinoRead.h"

int main(int argc, char** argv) {
    return TalvinoReadMain(argc, argv);
}
