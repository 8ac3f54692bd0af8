#include "progress/HistoryBuilder.h"

#include <algorithm>
#include <random>
#include <string>

#include "progress/ProgressStore.h"

namespace tunewick {

int buildHistory(ProgressStore& store, const HistoryPlan& plan) {
    std::mt19937 random(plan.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    constexpr std::int64_t kDay = 24LL * 3600 * 1000;
    constexpr std::int64_t kMinute = 60LL * 1000;
    static const int kOpenMidi[6] = {40, 45, 50, 55, 59, 64};
    static const char* kPairs[] = {"Am-E", "C-G", "D-A"};
    int kept = 0;
    for (int back = plan.days - 1; back >= 0; --back) {
        if (plan.skipYesterday && back == 1) continue;
        if (back > 2 && unit(random) < 0.2) continue;  // a day off now and then
        const double progress = 1.0 - static_cast<double>(back) / std::max(1, plan.days);  // 0 → 1 over the plan
        std::int64_t at = plan.nowMs - back * kDay - 2 * 3600 * 1000;  // two hours before "now", each day
        if (back == 0) at = plan.nowMs - 40 * kMinute;

        SessionResult session{"Notes", static_cast<double>(at), 300 + 900 * unit(random)};
        kept += store.record(session, at + 20 * kMinute);

        for (int i = 0; i < 12; ++i) {
            NoteGameResult r;
            r.string = static_cast<int>(unit(random) * 6);
            r.fret = static_cast<int>(unit(random) * (back > 6 ? 6 : 13));
            r.asked = kOpenMidi[r.string] + r.fret;
            // The high frets of the low strings stay hard the longest.
            const double hard = (r.fret > 4 ? 0.35 : 0.1) * (r.string < 2 ? 1.6 : 1.0) * (1.2 - progress);
            r.correct = unit(random) > hard;
            r.heard = r.correct ? r.asked : r.asked + 1;
            r.ms = 900 + 3000 * (1.0 - progress) * unit(random);
            kept += store.record(r, at + i * 10000);
        }
        for (int s = 0; s < 6; ++s) {
            kept += store.record(TunerResult{s, kOpenMidi[s], (unit(random) - 0.5) * 60}, at - 5 * kMinute + s * 5000);
        }
        if (back % 2 == 0) {
            SessionResult songs{"Songs", static_cast<double>(at + 30 * kMinute), 600 + 600 * unit(random)};
            kept += store.record(songs, at + 45 * kMinute);
            for (const char* lesson : {"Bars 1-8", "Bars 9-16"}) {
                PlayAlongResult run;
                run.song = "Greensleeves";
                run.lesson = lesson;
                run.speed = 0.6 + 0.4 * progress;
                double hits = 0;
                for (int e = 0; e < 48; ++e) {
                    const int bar = 1 + e / 6 + (lesson[5] == '9' ? 8 : 0);
                    const double hardBar = bar == 5 || bar == 12 ? 0.3 : 0.0;
                    const double roll = unit(random);
                    PlayAlongEvent event;
                    event.index = e;
                    event.bar = bar;
                    event.string = static_cast<int>(unit(random) * 4) + 1;
                    event.fret = static_cast<int>(unit(random) * 5);
                    if (roll < 0.08 + hardBar * (1.1 - progress)) {
                        event.verdict = "missed";
                    } else {
                        const double offset = (unit(random) + unit(random) - 1.0) * (90 - 50 * progress) + 8;
                        event.offset = offset;
                        event.verdict = offset < -40 ? "early" : offset > 40 ? "late" : "hit";
                        hits += event.verdict == "hit" ? 1 : 0.5;
                    }
                    run.events.push_back(event);
                }
                run.accuracy = hits / 48.0;
                run.spread = 55 - 25 * progress;
                kept += store.record(run, at + 40 * kMinute);
            }
        }
        if (back % 3 != 1) {
            for (const char* pair : kPairs) {
                const double bpm = 50 + 30 * progress;
                const int changes = static_cast<int>((bpm / 2) * (0.6 + 0.4 * unit(random)) * (pair[0] == 'D' ? 0.7 : 1.0));
                DrillResult drill{pair, bpm, changes, static_cast<int>(changes * (0.7 + 0.25 * progress)), 60};
                kept += store.record(drill, at + 50 * kMinute);
            }
            for (const char* name : {"Am", "E", "C", "G", "F"}) {
                ChordResult chord{name, unit(random) > (name[0] == 'F' ? 0.7 : 0.25), {}};
                for (int s = 0; s < 6; ++s) chord.strings.push_back({s, chord.clean || s != 4 ? "clean" : "buzz"});
                kept += store.record(chord, at + 55 * kMinute);
            }
        }
    }
    return kept;
}

}  // namespace tunewick
