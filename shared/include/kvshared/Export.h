#pragma once

// Marks what libkvshared.so publishes; everything else stays inside it.
#define KV_EXPORT __attribute__((visibility("default")))
