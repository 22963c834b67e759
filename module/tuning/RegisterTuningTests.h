// Registers the controller tuning tests with the setup editor's launcher.
#pragma once

void RegisterTuningTests();
