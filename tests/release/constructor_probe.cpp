// A program linked as the shipped tools are: each of its constructors runs exactly once, on old glibc and new.
#include <iostream>

namespace {

int g_runs = 0;

struct Counted {
  Counted() { ++g_runs; }
} g_counted;

[[gnu::constructor]] void CountedToo() { ++g_runs; }

}  // namespace

int main() { std::cout << "constructors run: " << g_runs << "\n"; }
