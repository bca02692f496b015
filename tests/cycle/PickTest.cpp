#include "CycleTestSupport.h"
#include "SortingPick.h"
#include "support/ModuleInside.h"

#include "jobs/TDoc.h"

#include <algorithm>
#include <random>

namespace raduvuz::test {
namespace {

class PickTest : public TJobFolderTest {
protected:
    template <typename T> const T& Any(const std::vector<T>& values) {
        return values[std::uniform_int_distribution<size_t>(0, values.size() - 1)(Random)];
    }
    bool Chance(double p) { return std::bernoulli_distribution(p)(Random); }

    // Priorities and times whose texts sort otherwise than their numbers, and equal keys.
    const std::vector<int32_t> Priorities{-20, -5, -1, 0, 1, 5, 9, 10, 20, 99, 100, 101, 250, 1000};
    const std::vector<TDateTime> Times{0, 1, 5.5, 10, 100, 100.25, 1000, 45000.5, 45000.125};
    const std::vector<std::string> Dests{"12", "15", "12,15", "", "7"};

    void Randomise(TShadow& s) {
        s.State = static_cast<TJobState>(std::uniform_int_distribution<int>(0, 2)(Random));
        s.Priority = Any(Priorities);
        s.Created = Any(Times);
        s.LastTime = Any(Times);
        s.Held = Chance(0.2);
        s.Waiting = Chance(0.3);
        s.Reloaded = Chance(0.05);
        s.Dests = Any(Dests);
    }
    // The job gets the shadow's fields through its setters, as any code must.
    static void Apply(const TShadow& s) {
        s.Job->MoveTo(s.State);
        s.Job->SetPriority(s.Priority);
        s.Job->SetCreated(s.Created);
        s.Job->SetLastTime(s.LastTime);
        s.Job->SetHeld(s.Held);
        s.Job->SetWaiting(s.Waiting);
        s.Job->SetReloaded(s.Reloaded);
        s.Job->SetDests(s.Dests);
    }
    void AddJob() {
        TShadow s;
        Randomise(s);
        ++NextDoc;
        s.Job = Inside(*Module).Jobs.Add(
            TDoc::Create(*Module, true, NextDoc, NextDoc, "Name=j", s.State));
        Apply(s);
        Shadows.push_back(s);
    }

    std::mt19937 Random;
    std::vector<TShadow> Shadows;
    int32_t NextDoc = 0;
};

TEST_F(PickTest, TheIndexPicksWhatSortingEveryKeyAsTextPicksWhileTheJobsChange) {
    int picked = 0;
    int none = 0;
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        Random.seed(seed);
        Shadows.clear();
        while (!Module->JobsInProcess().empty())
            Module->FreeJob(*Module->JobsInProcess().front());
        const int count = std::uniform_int_distribution<int>(0, 24)(Random);
        for (int i = 0; i < count; ++i)
            AddJob();
        bool exhausted = Chance(0.5);
        Inside(*Module).IntakeExhausted = exhausted;
        for (int pick = 0; pick < 40; ++pick) {
            TDoc* expected = SortingPick(Shadows, exhausted);
            TDoc* got = Module->SelectJob();
            ASSERT_EQ(got, expected) << "seed " << seed << ", pick " << pick;
            ASSERT_EQ(Inside(*Module).IntakeExhausted, exhausted)
                << "seed " << seed << ", pick " << pick;
            for (const TShadow& s : Shadows)
                ASSERT_EQ(s.Job->Waiting(), s.Waiting) << "seed " << seed << ", pick " << pick;
            got ? ++picked : ++none;

            // The picked job takes its step: it finds something to do or not, maybe moves on.
            if (got) {
                TShadow& s = *std::find_if(Shadows.begin(), Shadows.end(),
                                           [got](const TShadow& x) { return x.Job == got; });
                s.Waiting = Chance(0.6);
                s.LastTime = Any(Times) + pick;
                // A copy starts sending, or goes back to waiting; a reading job only ends.
                if (Chance(0.1) && s.State != TJobState::Reading)
                    s.State =
                        s.State == TJobState::Waiting ? TJobState::Sending : TJobState::Waiting;
                Apply(s);
            }
            // Meanwhile the operator and the bus change jobs, and jobs come and go.
            if (!Shadows.empty() && Chance(0.5)) {
                TShadow& s =
                    Shadows[std::uniform_int_distribution<size_t>(0, Shadows.size() - 1)(Random)];
                switch (std::uniform_int_distribution<int>(0, 5)(Random)) {
                case 0:
                    s.Priority = Any(Priorities);
                    break;
                case 1:
                    s.Held = !s.Held;
                    break;
                case 2:
                    s.Dests = Any(Dests);
                    break;
                case 3:
                    s.Created = Any(Times);
                    break;
                case 4:
                    s.Reloaded = !s.Reloaded;
                    break;
                default: {
                    // Every field anew; the state only as far as a job can move.
                    const TJobState state = s.State;
                    Randomise(s);
                    if (!MayMove(state, s.State))
                        s.State = state;
                    break;
                }
                }
                Apply(s);
            }
            if (!Shadows.empty() && Chance(0.1)) {
                const size_t at =
                    std::uniform_int_distribution<size_t>(0, Shadows.size() - 1)(Random);
                Module->FreeJob(*Shadows[at].Job);
                Shadows.erase(Shadows.begin() + static_cast<std::ptrdiff_t>(at));
            }
            if (Chance(0.1))
                AddJob();
            if (Chance(0.2)) {
                exhausted = !exhausted;
                Inside(*Module).IntakeExhausted = exhausted;
            }
        }
    }
    // Both answers came up often enough for the comparison to mean something.
    EXPECT_GT(picked, 2000);
    EXPECT_GT(none, 500);
}

} // namespace
} // namespace raduvuz::test
