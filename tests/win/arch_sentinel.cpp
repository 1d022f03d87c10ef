// Proves that the Windows tests of a build really run on the loader of their architecture: an
// image handed to the wrong loader runs nothing and exits 0, which this test does not accept.
#include <cstdio>

int main()
{
    std::printf("tunelore-test-arch: pointer size %u\n", static_cast<unsigned>(sizeof(void*)));
    return 0;
}
