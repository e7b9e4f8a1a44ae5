{
  "variables": {
    "sanitize%": ""
  },
  "target_defaults": {
    "cflags_cc!": ["-fno-exceptions", "-std=gnu++17", "-std=gnu++20"],
    "cflags_cc": ["-std=c++17", "-fexceptions", "-Wall", "-Wextra", "-fvisibility=hidden",
                  "<!@(pkg-config --cflags x11 xrandr xext xft xcursor pangoxft fribidi gio-2.0)"],
    "cflags": ["-Wall", "-Wextra", "-fvisibility=hidden"],
    "defines": ["NAPI_CPP_EXCEPTIONS", "NAPI_VERSION=8"],
    "include_dirs": [
      "<!(node -p \"require('node-addon-api').include_dir\")",
      "src/nativeui",
      "src/accessibility",
      "src/addon"
    ],
    "libraries": ["<!@(pkg-config --libs x11 xrandr xext xft xcursor pangoxft fribidi gio-2.0)", "-llodepng", "-lpthread"],
    # Never unloaded: Node closes an environment's add-ons when it goes away (a worker that loaded
    # the module alone and then ended), but the wake-up handles' close callbacks run in that
    # loop after the environment is gone, and the process-wide controller and its UI thread
    # belong to the process, not to one environment.
    "ldflags": ["-Wl,-z,nodelete"],
    "conditions": [
      # scripts/build.sh --sanitize=address. -O1 and line tables: fast to build, every report
      # frame with its file and line; no recovery, so undefined behaviour ends the process.
      ["sanitize=='address'", {
        "cflags_cc+": ["-fsanitize=address,undefined", "-fno-sanitize-recover=all",
                       "-fno-omit-frame-pointer", "-O1", "-g1"],
        "ldflags+": ["-fsanitize=address,undefined"]
      }]
    ]
  },
  "targets": [
    {
      "target_name": "nativeUIWrapper",
      "sources": ["<!@(find src/addon src/nativeui src/accessibility -name '*.cpp' | sort)"]
    }
  ],
  "conditions": [
    # The test-only add-on, built from the same sources plus tests/js/addon; a packed copy of
    # the module has no tests/ and builds the shipped target alone.
    ["<!(test -d tests/js/addon && echo 1 || echo 0)==1", {
      "targets": [
        {
          "target_name": "dispatcherTest",
          "sources": ["<!@(find tests/js/addon src/addon src/nativeui src/accessibility -name '*.cpp' ! -name addon.cpp | sort)"]
        }
      ]
    }]
  ]
}
