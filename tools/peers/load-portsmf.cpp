// load-portsmf.cpp: loads an SMF with portsmf (Alg_seq from a file) and prints the load's wall and
// CPU seconds and the number of events, for tools/bench-peers.sh.
#include <cstring>  // allegro.h uses memcpy without including it

#include <allegro.h>

#include <cstdio>
#include <ctime>

namespace {

double Seconds(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const double wall = Seconds(CLOCK_MONOTONIC), cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    Alg_seq* seq = new Alg_seq(argv[1], true);
    const double wallEnd = Seconds(CLOCK_MONOTONIC), cpuEnd = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    if (seq->get_read_error() != alg_no_error) return 1;
    long events = 0;
    for (int t = 0; t < seq->tracks(); ++t) events += seq->track(t)->length();
    std::printf("%.6f %.6f %ld\n", wallEnd - wall, cpuEnd - cpu, events);
    delete seq;
    return 0;
}
