"""zelpost for Python: the automation object of libzelpost.so over ctypes.

Pure Python; installs offline with the setuptools of the system
(`pip install ./python`). The library itself comes from the zelpost build
or install (libzelpost.so.1 on the loader's path, or $ZELPOST_LIBRARY).
"""
from setuptools import setup

setup(
    name="zelpost",
    version="1.0.0",
    description="Japanese Internet mail engine zelpost: the automation object for Python",
    packages=["zelpost"],
    python_requires=">=3.9",
)
