#!/usr/bin/python3
"""What a photographer would otherwise script with OpenCV: full-size imread, resize to 768 on the
long side, a 192x192 grey Laplacian variance and noise estimate, Haar frontal-face and eye cascades.

usage: opencv_baseline.py FOLDER   (prints photos per second)
"""
import os
import sys
import time

import cv2
import numpy as np

CASCADES = "/usr/share/opencv4/haarcascades/"


def main():
    folder = sys.argv[1]
    files = sorted(os.path.join(folder, name) for name in os.listdir(folder) if name.lower().endswith((".jpg", ".jpeg")))
    faces_cascade = cv2.CascadeClassifier(CASCADES + "haarcascade_frontalface_default.xml")
    eyes_cascade = cv2.CascadeClassifier(CASCADES + "haarcascade_eye.xml")
    start = time.monotonic()
    faces_found = 0
    for path in files:
        image = cv2.imread(path)
        if image is None:
            continue
        height, width = image.shape[:2]
        scale = 768.0 / max(height, width)
        small = cv2.resize(image, (round(width * scale), round(height * scale)), interpolation=cv2.INTER_AREA)
        grey = cv2.cvtColor(small, cv2.COLOR_BGR2GRAY)
        grid = cv2.resize(grey, (192, 192), interpolation=cv2.INTER_AREA).astype(np.float64)
        cv2.Laplacian(grid, cv2.CV_64F).var()
        neighbours = (grid[:-2, 1:-1] + grid[2:, 1:-1] + grid[1:-1, :-2] + grid[1:-1, 2:]) / 4.0
        np.abs(grid[1:-1, 1:-1] - neighbours).mean()
        faces = faces_cascade.detectMultiScale(grey, scaleFactor=1.1, minNeighbors=5, minSize=(28, 28))
        for (x, y, w, h) in faces:
            faces_found += 1
            eyes_cascade.detectMultiScale(grey[y:y + h, x:x + w])
    elapsed = time.monotonic() - start
    print(f"{len(files) / elapsed:.2f} photos/s ({len(files)} photos, {faces_found} faces, {elapsed:.1f} s)")


if __name__ == "__main__":
    main()
