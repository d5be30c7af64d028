#!/usr/bin/env python3
"""UDP echo: answers every datagram to its sender, until killed.
   udp_echo.py --bind IP --port PORT"""
import argparse
import socket

parser = argparse.ArgumentParser()
parser.add_argument("--bind", required=True)
parser.add_argument("--port", type=int, required=True)
args = parser.parse_args()
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind((args.bind, args.port))
print("listening on %s:%d" % (args.bind, args.port), flush=True)
while True:
    data, peer = sock.recvfrom(65535)
    sock.sendto(data, peer)
