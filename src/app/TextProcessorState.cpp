#include "app/TextProcessorState.h"
