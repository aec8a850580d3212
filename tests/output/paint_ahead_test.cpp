#include "output/paint_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace wldmap {
namespace {

// A pixel that says where it belongs.
Color marked(uint32_t x, uint32_t y) {
  return Color{uint8_t(x), uint8_t(y), uint8_t(y >> 8), 255};
}

void paintMarked(uint32_t width, uint32_t top, uint32_t rows, Color* out) {
  for (uint32_t y = top; y < top + rows; ++y) {
    for (uint32_t x = 0; x < width; ++x) *out++ = marked(x, y);
  }
}

// The ring's rule itself, for every band the encoder may read and every band
// the painter may then paint: never into the slot of a band the encoder may
// still read, and always far enough ahead that the encoder never waits on a
// slot that is free.
TEST(PaintAheadTest, TheRingNeverPaintsOverABandTheEncoderMayStillRead) {
  for (uint32_t slots = 1; slots <= 4; ++slots) {
    const BandRing ring{slots};
    for (uint32_t reading = 0; reading < 12; ++reading) {
      for (uint32_t band = reading + 1; band < reading + 2 * slots + 2; ++band) {
        if (ring.mayPaint(band, reading)) {
          EXPECT_NE(ring.slot(reading), ring.slot(band)) << slots << ": " << band << " over " << reading;
        } else {
          EXPECT_GE(band, reading + slots) << slots << ": band " << band << " held back";
        }
      }
      EXPECT_TRUE(ring.mayPaint(reading, reading));
    }
  }
}

TEST(PaintAheadTest, EveryRowArrivesWhole) {
  // Heights below, at and across band boundaries, so the ring wraps several times.
  for (auto size : {std::pair<uint32_t, uint32_t>{3, 1}, {1, 64}, {4, 100}, {2, 130}, {5, 700}}) {
    const uint32_t width = size.first, height = size.second;
    PaintAhead ahead(width, height, [width](uint32_t top, uint32_t rows, Color* out) {
      paintMarked(width, top, rows, out);
    });
    int mismatches = 0;
    for (uint32_t y = 0; y < height; ++y) {
      const Color* row = ahead.row(y).pixels;
      for (uint32_t x = 0; x < width; ++x) {
        if (row[x] != marked(x, y) && ++mismatches < 5) {
          ADD_FAILURE() << width << " x " << height << ": pixel " << x << "," << y;
        }
      }
    }
    EXPECT_EQ(0, mismatches);
  }
}

// No row is handed over before its band is painted. The painter is held inside
// band 1 while another thread asks for row 64; it is let go once that thread
// has its row (wrong) or has had a thousand turns to get it. The verdict is the
// order of the two events, so correct code passes however slow the machine.
TEST(PaintAheadTest, NoRowIsHandedOverBeforeItsBandIsPainted) {
  std::mutex mutex;
  std::condition_variable changed;
  bool asking = false, released = false;
  std::vector<std::string> events;
  auto log = [&](const char* event) {
    const std::lock_guard<std::mutex> lock(mutex);
    events.push_back(event);
    changed.notify_all();
  };
  PaintAhead ahead(2, 200, [&](uint32_t top, uint32_t rows, Color* out) {
    if (top == 64) {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return released; });
    }
    paintMarked(2, top, rows, out);
    if (top == 64) log("painted");
  });
  for (uint32_t y = 0; y < 64; ++y) ahead.row(y);
  Color pixel{};
  std::thread encoder([&] {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      asking = true;
    }
    changed.notify_all();
    pixel = ahead.row(64).pixels[1];
    log("handed over");
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return asking; });
    for (int turn = 0; turn < 1000 && events.empty(); ++turn) {
      lock.unlock();
      std::this_thread::yield();
      lock.lock();
    }
    released = true;
  }
  changed.notify_all();
  encoder.join();
  EXPECT_EQ((std::vector<std::string>{"painted", "handed over"}), events);
  EXPECT_EQ(marked(1, 64), pixel);
}

TEST(PaintAheadTest, EncoderThatStopsEarlyLetsThePainterGo) {
  // A failed save stops asking for rows; the painter must neither wait forever
  // (the test would time out) nor paint more than the ring holds: three bands
  // beyond the band of the last row asked for.
  for (uint32_t asked : {0u, 1u, 200u}) {
    std::atomic<uint32_t> bands{0};
    {
      PaintAhead ahead(4, 10000, [&bands](uint32_t top, uint32_t rows, Color* out) {
        ++bands;
        paintMarked(4, top, rows, out);
      });
      for (uint32_t y = 0; y < asked; ++y) ahead.row(y);
    }
    EXPECT_LE(bands, (asked == 0 ? 0 : (asked - 1) / 64) + 3) << asked;
  }
}

TEST(PaintAheadTest, MapsWithoutRowsOrColumnsNeedNoPainting) {
  for (auto size : {std::pair<uint32_t, uint32_t>{5, 0}, {0, 0}, {0, 70}}) {
    PaintAhead ahead(size.first, size.second, [](uint32_t, uint32_t, Color*) {});
    for (uint32_t y = 0; y < size.second; ++y) ahead.row(y);
  }
}

TEST(PaintAheadTest, PaintingThatFailsFailsTheRowsAfterIt) {
  PaintAhead ahead(2, 300, [](uint32_t top, uint32_t rows, Color* out) {
    if (top >= 128) throw std::runtime_error("no more paint");
    paintMarked(2, top, rows, out);
  });
  for (uint32_t y = 0; y < 128; ++y) EXPECT_EQ(marked(1, y), ahead.row(y).pixels[1]);
  EXPECT_THROW(ahead.row(128), std::runtime_error);
}

#ifndef _WIN32
TEST(PaintAheadTest, PainterLeavesSignalsToTheMainThread) {
  // The main thread holds SIGINT back while it creates and renames the map's
  // temporary file; a painter that could take it would run the clean-up then.
  std::atomic<bool> blocked{false}, faultsHeld{true};
  {
    PaintAhead ahead(1, 1, [&](uint32_t, uint32_t, Color* out) {
      sigset_t mask;
      pthread_sigmask(SIG_SETMASK, nullptr, &mask);
      blocked = sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1 &&
                sigismember(&mask, SIGHUP) == 1;
      // A fault in the painter must end the process as it would anywhere else;
      // POSIX leaves it undefined while these are held back.
      faultsHeld = sigismember(&mask, SIGSEGV) == 1 || sigismember(&mask, SIGBUS) == 1 ||
                   sigismember(&mask, SIGFPE) == 1 || sigismember(&mask, SIGILL) == 1;
      *out = Color{};
    });
    ahead.row(0);
  }
  EXPECT_TRUE(blocked);
  EXPECT_FALSE(faultsHeld);
}
#endif

}  // namespace
}  // namespace wldmap
