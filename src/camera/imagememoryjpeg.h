// The snapshot of a camera's image memory, shared by every camera behind the call table.
#pragma once

namespace lapido {

// Writes one image memory (8, 15, 16, 24 or 32 bits a pixel) as a JPEG file at the given
// quality (1 to 100, else 75), whole or not at all. The call table's success or failure code.
int saveImageMemoryAsJpeg(const char* file, int quality, const char* bytes, int width, int height, int pitch,
                          int bits);

} // namespace lapido
