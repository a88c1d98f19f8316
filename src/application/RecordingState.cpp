#include "application/RecordingState.h"
