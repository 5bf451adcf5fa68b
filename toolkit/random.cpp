// Random numbers that spread retries in time. Two machines that run the same
// program on clocks started together must not keep choosing the same instant,
// so the seed comes from the host's random source, not from the clock.
#include "toolkit/files.h"
#include "toolkit/hostfiles.h"

namespace {

// splitmix64: a small generator whose whole state is one word.
struct RandomState {
  bool seeded = false;
  uint64_t state = 0;
};

RandomState randomState;

uint64_t NextRandom() {
  uint64_t z = (randomState.state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

void SeedFromHost() {
  // Should the host's source fail, the address of the state still differs
  // between runs of a position-independent program.
  uint64_t seed = hostfs::RandomSeed();
  if (seed == 0) seed = uint64_t(uintptr_t(&randomState));
  randomState.state = seed;
  randomState.seeded = true;
}

}  // namespace

uint32_t tkRandom(uint32_t below) {
  if (below == 0) return 0;
  if (!randomState.seeded) SeedFromHost();
  // The high half scaled to the range: the bias is below 2^-32.
  return uint32_t(((NextRandom() >> 32) * uint64_t(below)) >> 32);
}

void tkSeedRandom(uint32_t seed) {
  randomState.state = seed;
  randomState.seeded = true;
}
