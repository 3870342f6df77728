#include "fake_platform.h"

#include "accumulation.h"
#include "host.h"
#include "platform.h"

#include <cstdio>
#include <cstring>

FakePlatform fake;

void resetFake() {
  fake = FakePlatform{};
  quitRequested = false;
  limitHit = false;
  renderWindow.fullscreen = 0;
}

void *platformInstance() {
  return nullptr;
}

bool platformAdapterName(char *name, std::size_t size) {
  if (!fake.adapterKnown) return false;
  std::snprintf(name, size, "%s", fake.adapter.c_str());
  return true;
}

bool createRenderWindow(RenderWindow &) {
  ++fake.creates;
  fake.events.push_back("create");
  return fake.createSucceeds;
}

void destroyRenderWindow(RenderWindow &) {
  ++fake.destroys;
  fake.events.push_back("destroy");
}

bool drainMessages(RenderWindow &) {
  ++fake.turns;
  fake.events.push_back("drain");
  return fake.turns == fake.quitOnTurn;
}

void swapWindow(RenderWindow &) {
  ++fake.swaps;
  fake.events.push_back("swap");
}

std::uint32_t tickCount() {
  return fake.clock(static_cast<int>(fake.renderArgs.size()));
}

void showNotice(const char *caption, const char *text) {
  fake.notices.push_back(std::string(caption) + "|" + text);
  fake.events.push_back("notice");
}

void *glProcAddress(const char *) {
  return nullptr;
}
void setMesaOverrides() {}
bool checkGlVersion() {
  return true;
}

void initAccumulation(unsigned, unsigned) {
  ++fake.inits;
  fake.events.push_back("init");
}

void initAccumulationWith(const char *, const char *, unsigned, unsigned) {}

void renderFrame(float elapsedSeconds) {
  fake.renderArgs.push_back(elapsedSeconds);
  fake.events.push_back("render");
}

AccumulationView accumulationView() {
  return {};
}

void (*glFatalHandler)() = nullptr;
