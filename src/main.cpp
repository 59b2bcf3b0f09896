#include <cstdio>

int main() {
    std::printf("ringtrap: the demonstration is not built yet\n");
    return 0;
}
