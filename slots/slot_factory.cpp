#include "slots/slot_factory.h"

SlotFactory* firstFactory = nullptr;

SlotFactory::SlotFactory() : next_(firstFactory) { firstFactory = this; }
