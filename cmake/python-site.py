"""Prints the folder where this Python looks for modules under the prefix
given (one of its site folders, or the user's), then "searched"; or, when it
looks in none there, the usual folder under the prefix and "not searched".
Run by `cmake --install` (cmake/InstallPython.cmake)."""
import os
import site
import sys
import sysconfig

prefix = os.path.abspath(sys.argv[1])
folders = list(site.getsitepackages())
if site.ENABLE_USER_SITE is not False:
    folders.append(site.getusersitepackages())
for folder in folders:
    # lib/... under the prefix itself, not under a folder inside it
    # (/usr/local/lib/... is not /usr's)
    if os.path.relpath(os.path.abspath(folder), prefix).split(os.sep)[0] == "lib":
        print(folder)
        print("searched")
        break
else:
    print(sysconfig.get_path("purelib", "posix_prefix", vars={"base": prefix, "platbase": prefix}))
    print("not searched")
