// The --speech source of pdm-scene: a sound file read as far as a scene
// needs it, mixed to mono and resampled to 16 kHz.
#ifndef HALVANE_PDM_SCENE_SOUND_FILE_H
#define HALVANE_PDM_SCENE_SOUND_FILE_H

#include <string>
#include <vector>

// Reads the part of a sound file that a scene of duration_s seconds uses,
// mixed to mono and resampled to 16 kHz. False with a message for a missing,
// non-regular, unreadable or empty file.
bool readSoundFile(const std::string& path, double duration_s, std::vector<float>& mono,
                   std::string& error);

#endif
