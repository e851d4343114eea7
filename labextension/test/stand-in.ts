// A stand-in for the server connection: answers from a queue, records requests.
import { Send } from '../src/api';

export interface Sent {
  url: string;
  method: string;
  body: string | null;
  contentType: string | null;
}

export type Answer = { status: number; body: string; statusText?: string } | 'no answer';

export class StandIn {
  readonly sent: Sent[] = [];
  readonly answers: Answer[] = [];

  readonly send: Send = async (url, init) => {
    const headers = new Headers(init.headers);
    this.sent.push({
      url,
      method: init.method ?? 'GET',
      body: typeof init.body === 'string' ? init.body : null,
      contentType: headers.get('Content-Type')
    });
    const answer = this.answers.shift();
    if (answer === undefined) {
      throw new Error(`no answer queued for ${init.method} ${url}`);
    }
    if (answer === 'no answer') {
      throw new TypeError('Failed to fetch');
    }
    return new Response(answer.body, { status: answer.status, statusText: answer.statusText ?? '' });
  };

  answer(status: number, body: unknown, statusText?: string): this {
    this.answers.push({ status, body: typeof body === 'string' ? body : JSON.stringify(body), statusText });
    return this;
  }
}
