"""An S3-compatible server for the tests: moto's, in a process of its own on the
loopback address, holding a folder's files as the objects of a bucket.

With `authenticated` it checks every request's signature (moto's IAM checks):
`key` and `secret` are those of a user allowed to read, and any other key is
refused. Without it, the bucket is open: anonymous requests read it, as they read
PhysioNet's open data bucket.
"""

import json
import os
import pathlib
import subprocess
import sys

from web_servers import _wait_for_port, free_port

# The requests moto serves before it checks signatures: the ones that make the reading user.
_SETUP_ACTIONS = 3


class S3Server:
    def __init__(self, root, bucket, prefix="", authenticated=True, region="us-east-1"):
        import boto3

        self.bucket = bucket
        self.region = region
        self.port = free_port()
        environment = dict(os.environ)
        for name in list(environment):
            if name.startswith("AWS_"):
                del environment[name]
        if authenticated:
            environment["INITIAL_NO_AUTH_ACTION_COUNT"] = str(_SETUP_ACTIONS)
        self.process = subprocess.Popen(
            [sys.executable, "-m", "moto.server", "-H", "127.0.0.1", "-p", str(self.port)],
            env=environment,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        if not _wait_for_port(self.port, self.process, 60):
            self.stop()
            raise RuntimeError("moto's S3 server did not start")
        setup = dict(endpoint_url=self.url(), region_name=region, aws_access_key_id="setup", aws_secret_access_key="-")
        self.key, self.secret = "anonymous", ""
        if authenticated:
            iam = boto3.client("iam", **setup)
            iam.create_user(UserName="reader")
            made = iam.create_access_key(UserName="reader")["AccessKey"]
            iam.put_user_policy(
                UserName="reader",
                PolicyName="everything",
                PolicyDocument=json.dumps(
                    {"Version": "2012-10-17", "Statement": [{"Effect": "Allow", "Action": "*", "Resource": "*"}]}
                ),
            )
            self.key, self.secret = made["AccessKeyId"], made["SecretAccessKey"]
            setup.update(aws_access_key_id=self.key, aws_secret_access_key=self.secret)
        s3 = boto3.client("s3", **setup)
        s3.create_bucket(Bucket=bucket)
        if not authenticated:
            public = {"Effect": "Allow", "Principal": "*", "Action": "s3:GetObject", "Resource": "arn:aws:s3:::%s/*"}
            s3.put_bucket_policy(
                Bucket=bucket,
                Policy=json.dumps(
                    {"Version": "2012-10-17", "Statement": [dict(public, Resource=public["Resource"] % bucket)]}
                ),
            )
        root = pathlib.Path(root)
        for path in sorted(root.rglob("*")):
            if path.is_file():
                key = prefix + path.relative_to(root).as_posix()
                s3.put_object(
                    Bucket=bucket, Key=key, Body=path.read_bytes(), ACL="private" if authenticated else "public-read"
                )

    def url(self):
        return "http://127.0.0.1:%d" % self.port

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
