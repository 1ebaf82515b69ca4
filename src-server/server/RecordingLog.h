#pragma once

// Kept only for the client's tests until they include testing/RecordingLog.h themselves.
#include "testing/RecordingLog.h"
