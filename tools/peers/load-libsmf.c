/* load-libsmf.c: loads an SMF with libsmf's smf_load and prints the load's wall and CPU seconds
 * and the number of events, for tools/bench-peers.sh. */
#include <smf.h>
#include <stdio.h>
#include <time.h>

static double Seconds(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const double wall = Seconds(CLOCK_MONOTONIC), cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    smf_t* smf = smf_load(argv[1]);
    const double wallEnd = Seconds(CLOCK_MONOTONIC), cpuEnd = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    if (!smf) return 1;
    long events = 0;
    for (int t = 1; t <= smf->number_of_tracks; ++t)
        events += smf_get_track_by_number(smf, t)->number_of_events;
    printf("%.6f %.6f %ld\n", wallEnd - wall, cpuEnd - cpu, events);
    /* No smf_delete: it takes minutes on a large song (it removes events one by one), and only the
     * load is measured; the process's exit releases everything. */
    return 0;
}
