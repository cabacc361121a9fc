// Readers on several threads at once: the handle table, the kept libraries
// and the log are shared by all of them (run under ThreadSanitizer too).
#include <thread>

#include "audio_support.h"

namespace {

TEST(AudioThreads, ReadersOnSeveralThreadsDecodeAsAlone) {
  const char* files[] = {"tone.ogg", "tone.flac", "tone-48k.mp3", "tone-cd.wav"};
  std::vector<std::vector<uint8_t>> alone;
  for (const char* f : files) {
    const qvaudio::Decoded d = qvaudio::DecodeAll(qvaudio::Fixture(f), {2352});
    ASSERT_EQ(d.createStatus, 0u) << f;
    ASSERT_GT(d.pcm.size(), 44100u) << f << " decoded to less than a quarter second";
    alone.push_back(d.pcm);
  }
  SonvexI_ForgetLibraries();  // the threads race to load them again
  std::vector<std::vector<uint8_t>> together(std::size(files));
  std::vector<std::thread> threads;
  for (size_t i = 0; i < std::size(files); ++i)
    threads.emplace_back([&, i] { together[i] = qvaudio::DecodeAll(qvaudio::Fixture(files[i]), {2352}, 1).pcm; });
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < std::size(files); ++i) EXPECT_TRUE(together[i] == alone[i]) << files[i];
}

}  // namespace
