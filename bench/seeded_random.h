// seeded_random.h - the benchmark generators' random numbers, the same for
// the same seed on every machine and library (splitmix64; no <random>
// distributions, whose results differ between standard libraries).
//   seeded_random r{seed};  r.next()  64 random bits
//   r.below(n)              0 <= value < n, for n > 0
//   r.chance(per_mille)     true in about per_mille of 1000 calls
#pragma once

#include <cstdint>

struct seeded_random {
  std::uint64_t state;

  std::uint64_t next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  std::uint64_t below(std::uint64_t n) {
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(next()) * n) >> 64);
  }
  bool chance(unsigned per_mille) { return below(1000) < per_mille; }
};
